#!/usr/bin/env bash
# Runs the benchmarks (all, or those named: scripts/bench.sh latch trace) for every architecture
# this machine executes, each under a line that names the architecture. Build first
# (scripts/test.sh or scripts/run.sh).
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
osse_wine_up
trap osse_wine_down EXIT
names=("$@")
for arch in $(osse_runnable_arches); do
  dir=$(osse_build_dir "$arch")/bench
  [ -d "$dir" ] || { echo "bench: no $dir (build first)" >&2; exit 2; }
  if [ ${#names[@]} -eq 0 ]; then
    mapfile -t exes < <(ls "$dir"/bench_*.exe)
  else
    exes=()
    for n in "${names[@]}"; do exes+=("$dir/bench_$n.exe"); done
  fi
  for exe in "${exes[@]}"; do
    echo "== $(basename "$exe" .exe) [$arch]"
    osse_wine "$arch" "$exe" </dev/null | tr -d '\r'
  done
done
note=$(osse_skip_note || true)
[ -n "$note" ] && echo "$note"
