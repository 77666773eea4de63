#!/usr/bin/env bash
# The main job: builds NRVOSSE and ossetool for i686 and x86_64, then uses ossetool under Wine
# on real work, with the build this machine runs (the i686 one where it can run 32-bit code).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
"$OSSE_ROOT/scripts/bootstrap.sh"
osse_configure_and_build
osse_wine_up
trap osse_wine_down EXIT
if osse_can_run_i686; then arch=i686; else arch=x86_64; fi
export OSSE_ARCH=$arch
build=$(osse_build_dir "$arch")
echo "== main job with the $arch build"
note=$(osse_skip_note || true)
[ -n "$note" ] && echo "$note"
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
demo="$build/demo"
rm -rf "$demo" && mkdir -p "$demo"
log_unix="$demo/shared.log"
log_win=$(osse_winepath "$log_unix")
pids=()
for i in 1 2 3; do
  osse_wine "$arch" "$build/tests/test_diag.exe" --osse-child=log_writer "$log_win" 200 </dev/null >/dev/null 2>&1 &
  pids+=($!)
done
for p in "${pids[@]}"; do wait "$p"; done
run log "$log_win" --stats
echo "\$ ossetool log $log_win --summary --level Severe --since 2000 | head -5"
"$tool" log "$log_win" --summary --level Severe --since 2000 | head -5; echo
echo "\$ ossetool log $log_win | head -12"
"$tool" log "$log_win" | head -12; echo
head -c $(( $(stat -c %s "$log_unix") - 100 )) "$log_unix" > "$demo/cut.log"
echo "\$ ossetool log $(osse_winepath "$demo/cut.log") --stats"
"$tool" log "$(osse_winepath "$demo/cut.log")" --stats || echo "(exit status $?)"
echo
# A trap file written by a process that takes a real access violation (a role of the fault
# tests' program), then read back.
trapfile="$build/run-fault.trap"
rm -f "$trapfile"
osse_wine "$arch" "$build/tests/test_fault.exe" --osse-child=crash_with_trap_file "$(osse_winepath "$trapfile")" \
  >/dev/null 2>&1 || true
run trap "$(osse_winepath "$trapfile")"

# Trace: a named trace streamed while several processes do file operations, then an
# instantaneous dump of a second trace; both formatted as text and as Trace Event JSON.
tracedir=$(mktemp -d)
twin=$(osse_winepath "$tracedir")
run trace on demo --mode autodump --size 512K --timestamps
echo "\$ ossetool trace stream demo $twin\\stream.dmp --count 2600 &"
"$tool" trace stream demo "$twin\\stream.dmp" --count 2600 &
streamer=$!
# Writers go on without waiting for a streamer that has not registered yet: start them once it
# has (bounded: a streamer that never registers shows in the counts below).
for _ in $(seq 100); do
  "$tool" trace info demo 2>/dev/null | grep -q "^streamer: *process" && break
  sleep 0.1
done
run trace workload demo 4 50
# The streamer ends at the record count; switching the trace off would end it as well.
wait "$streamer"
run trace info demo
"$tool" trace format "$twin\\stream.dmp" > "$tracedir/stream.txt"
echo "\$ ossetool trace format $twin\\stream.dmp  (first and last lines of $(wc -l < "$tracedir/stream.txt"))"
head -5 "$tracedir/stream.txt"; echo ...; tail -3 "$tracedir/stream.txt"; echo
"$tool" trace format --json "$twin\\stream.dmp" > "$tracedir/stream.json"
python3 - "$tracedir/stream.json" <<'PY'
import collections, json, sys
events = json.load(open(sys.argv[1]))
open_ = collections.defaultdict(list)
for e in events:
    key = (e["pid"], e["tid"])
    if e["ph"] == "B":
        open_[key].append(e["name"])
    elif e["ph"] == "E":
        assert open_[key] and open_[key][-1] == e["name"], e
        open_[key].pop()
assert not any(open_.values())
print(f"JSON: {len(events)} events, every B has its E per thread")
PY
run trace off demo
run trace on snap --mode circular --size 512K
run trace workload snap 2 10
run trace dump snap "$twin\\snap.dmp"
"$tool" trace format --reverse "$twin\\snap.dmp" > "$tracedir/snap.txt"
echo "\$ ossetool trace format --reverse $twin\\snap.dmp  (newest first)"
head -4 "$tracedir/snap.txt"; echo
run trace on prof --mode profile --size 512K --profile-timing
run trace workload prof 2 20
run trace dump prof "$twin\\prof.dmp"
run trace profile "$twin\\prof.dmp" --by calls
run trace remove demo
run trace remove snap
run trace remove prof
rm -rf "$tracedir"
