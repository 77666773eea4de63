#!/usr/bin/env bash
# The main job: builds NRVOSSE and ossetool, then uses ossetool under Wine on real work.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$OSSE_ROOT/scripts/bootstrap.sh"
osse_configure_and_build
osse_wine_up
trap osse_wine_down EXIT
tool="$OSSE_ROOT/scripts/ossetool"
run() { echo "\$ ossetool $*"; "$tool" "$@"; echo; }
run --help
run ecf 0x9000000C
run ecf 0x081A0003
run ecf 0x08140069
run ecf --list
# A trap file written by a process that takes a real access violation (a role of the fault
# tests' program), then read back.
trapfile="$OSSE_BUILD/run-fault.trap"
rm -f "$trapfile"
wine "$OSSE_BUILD/tests/test_fault.exe" --osse-child=crash_with_trap_file "$(winepath -w "$trapfile")" \
  >/dev/null 2>&1 || true
run trap "$(winepath -w "$trapfile")"
