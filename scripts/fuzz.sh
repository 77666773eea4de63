#!/usr/bin/env bash
# Fuzzes the trace dump decoding natively with libFuzzer and the address and undefined-behaviour
# sanitizers: as a 64-bit program everywhere, and also as a 32-bit one (the layouts of the i686
# DLL) where this machine runs 32-bit code. Fails on any finding.
# Usage: scripts/fuzz.sh [SECONDS]   (SECONDS for each build that runs)
# (-malign-double gives 64-bit fields the 8-byte alignment of the 32-bit Windows layouts.)
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
root=$OSSE_ROOT
seconds=${1:-60}
widths="64"
osse_can_run_i686 && widths="64 32"
need=()
command -v clang++ >/dev/null || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
if [ "$widths" != 64 ]; then
  dpkg -s g++-multilib >/dev/null 2>&1 || need+=(g++-multilib)
fi
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq "${need[@]}"
fi
out=${OSSE_FUZZ_BUILD:-$root/build/fuzz}
status=0
for bits in $widths; do
  dir="$out/$bits"
  mkdir -p "$dir/corpus"
  flags=(-m64)
  [ "$bits" = 32 ] && flags=(-m32 -malign-double)
  clang++ "${flags[@]}" -std=c++17 -O2 -g -fdeclspec -DOSSE_BUILDING_DLL -Wno-ignored-attributes \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root/include" -I"$root/src" \
    "$root/fuzz/trace_dump_fuzz.cpp" "$root/src/trace/dumpcore.cpp" -o "$dir/trace_dump_fuzz"
  # Seeds: dumps written by the trace tests (fuzz/corpus); new finds go to the build folder.
  cp -n "$root"/fuzz/corpus/* "$dir/corpus/" 2>/dev/null || true
  # A fixed seed makes a run repeat the inputs of any earlier run with the same corpus for as
  # long as that one lasted: a finding is never a matter of luck between two runs of one tree.
  (cd "$dir" && ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16} ./trace_dump_fuzz \
     -seed="${OSSE_FUZZ_SEED:-1}" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
     -print_final_stats=1 corpus 2>&1 | tee fuzz.log | grep -E 'stat::|ERROR|SUMMARY|Done' || true)
  # libFuzzer exits non-zero on a finding; the pipe above hides that, the log does not.
  if grep -qE '==ERROR|runtime error|SUMMARY: (Address|Undefined)|deadly signal|Test unit written' "$dir/fuzz.log"; then
    echo "fuzz ($bits-bit): finding, see $dir/fuzz.log" >&2
    status=1
    continue
  fi
  execs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$dir/fuzz.log" | grep -oE '[0-9]+$' || echo 0)
  echo "fuzz ($bits-bit): no finding; $execs executions in ${seconds} s ($((execs / seconds)) per second)"
done
note=$(osse_skip_note || true)
[ -n "$note" ] && echo "fuzz: 32-bit run skipped: this machine's kernel refuses 32-bit x86 code"
exit $status
