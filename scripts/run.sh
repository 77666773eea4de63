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
run sysinfo

# ossetool log: three processes append to one diagnostic log at once (the log-writer role of the
# diagnostic tests, 200 records each), then the log is read, filtered and counted; a copy cut in
# the middle of its last record shows how damage is reported (exit status 3).
demo="$OSSE_BUILD/demo"
rm -rf "$demo" && mkdir -p "$demo"
log_unix="$demo/shared.log"
log_win=$(winepath -w "$log_unix" 2>/dev/null)
pids=()
for i in 1 2 3; do
  wine "$OSSE_BUILD/tests/test_diag.exe" --osse-child=log_writer "$log_win" 200 </dev/null >/dev/null 2>&1 &
  pids+=($!)
done
for p in "${pids[@]}"; do wait "$p"; done
run log "$log_win" --stats
echo "\$ ossetool log $log_win --summary --level Severe --since 2000 | head -5"
"$tool" log "$log_win" --summary --level Severe --since 2000 | head -5; echo
echo "\$ ossetool log $log_win | head -12"
"$tool" log "$log_win" | head -12; echo
head -c $(( $(stat -c %s "$log_unix") - 100 )) "$log_unix" > "$demo/cut.log"
echo "\$ ossetool log $(winepath -w "$demo/cut.log") --stats"
"$tool" log "$(winepath -w "$demo/cut.log")" --stats || echo "(exit status $?)"
echo
# A trap file written by a process that takes a real access violation (a role of the fault
# tests' program), then read back.
trapfile="$OSSE_BUILD/run-fault.trap"
rm -f "$trapfile"
wine "$OSSE_BUILD/tests/test_fault.exe" --osse-child=crash_with_trap_file "$(winepath -w "$trapfile")" \
  >/dev/null 2>&1 || true
run trap "$(winepath -w "$trapfile")"
