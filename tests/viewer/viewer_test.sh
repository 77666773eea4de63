#!/usr/bin/env bash
# The trace of the main job's demo, opened in the speedscope flame-graph viewer: a named trace
# streamed while ossetool's workload runs (as scripts/run.sh does), formatted as Trace Event
# JSON, then loaded by view_trace.js in headless Chromium. Exit code 77 (skipped) with the
# reason when Chromium, Node.js or the viewer packages are not installed.
#   viewer_test.sh WINE OSSETOOL VIEWER_DIR WORK SCREENSHOT
set -uo pipefail
wine=$1 ossetool=$2 viewer=$3 work=$4 screenshot=$5
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

skip() { echo "SKIPPED: $* (scripts/bootstrap.sh installs it)"; exit 77; }
chromium=$(command -v chromium || true)
[ -n "$chromium" ] || skip "Debian's chromium is not installed"
command -v node >/dev/null || skip "Node.js is not installed"
[ -f "$viewer/node_modules/speedscope/dist/release/index.html" ] ||
  skip "speedscope is not installed in $viewer"
[ -d "$viewer/node_modules/playwright-core" ] || skip "playwright-core is not installed in $viewer"

rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
name=viewer_$$
tool() { timeout 60 "$wine" "$ossetool" "$@"; }
streamer=
cleanup() {
  [ -n "$streamer" ] && kill "$streamer" 2>/dev/null
  tool trace remove "$name" >/dev/null 2>&1
}
trap cleanup EXIT

tool trace on "$name" --mode autodump --size 512K --timestamps || exit 1
timeout 100 "$wine" "$ossetool" trace stream "$name" stream.dmp --count 2600 &
streamer=$!
# The writers go on without a streamer that has not registered yet: start them once it has.
registered=0
for _ in $(seq 100); do
  tool trace info "$name" 2>/dev/null | grep -q "^streamer: *process" && { registered=1; break; }
  sleep 0.1
done
[ "$registered" = 1 ] || { echo "the streamer did not register within 10 s"; exit 1; }
tool trace workload "$name" 4 50 || exit 1
# The streamer ends at its record count; switching the trace off ends it as well, should the
# workload have written fewer records.
for _ in $(seq 100); do
  kill -0 "$streamer" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$streamer" 2>/dev/null && tool trace off "$name"
wait "$streamer" || { echo "trace stream failed"; exit 1; }
streamer=
tool trace format --json stream.dmp > stream.json || exit 1

mkdir -p "$(dirname "$screenshot")"
timeout 100 node "$here/view_trace.js" "$viewer" "$chromium" "$work/stream.json" "$screenshot"
