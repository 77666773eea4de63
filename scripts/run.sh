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

# Trace: a named trace streamed while several processes do file operations, then an
# instantaneous dump of a second trace; both formatted as text and as Trace Event JSON.
tracedir=$(mktemp -d)
twin=$(winepath -w "$tracedir" 2>/dev/null)
run trace on demo --mode autodump --size 512K --timestamps
echo "\$ ossetool trace stream demo $twin\\stream.dmp --count 2600 &"
"$tool" trace stream demo "$twin\\stream.dmp" --count 2600 &
streamer=$!
sleep 1
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
rm -rf "$tracedir"
