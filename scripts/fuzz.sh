#!/usr/bin/env bash
# Fuzzes the trace dump decoding natively (32-bit, as in the DLL) with libFuzzer and the address
# and undefined-behaviour sanitizers. Fails on any finding. Usage: scripts/fuzz.sh [SECONDS]
# (-malign-double gives 64-bit fields the 8-byte alignment of the Windows layouts.)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
need=()
command -v clang++ >/dev/null || need+=(clang)
dpkg -s libclang-rt-dev >/dev/null 2>&1 || ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-i386.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
dpkg -s g++-multilib >/dev/null 2>&1 || need+=(g++-multilib)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq "${need[@]}"
fi
out=${OSSE_FUZZ_BUILD:-$root/build-fuzz}
mkdir -p "$out/corpus"
clang++ -m32 -malign-double -std=c++17 -O2 -g -fdeclspec -DOSSE_BUILDING_DLL -Wno-ignored-attributes \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$root/include" -I"$root/src" \
  "$root/fuzz/trace_dump_fuzz.cpp" "$root/src/trace/dumpcore.cpp" -o "$out/trace_dump_fuzz"
# Seeds: dumps written by the trace tests (fuzz/corpus); new finds go to the build folder.
cp -n "$root"/fuzz/corpus/* "$out/corpus/" 2>/dev/null || true
cd "$out"
# A fixed seed makes a run repeat the inputs of any earlier run with the same corpus for as long
# as that one lasted: a finding is never a matter of luck between two runs of one tree.
ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16} "./trace_dump_fuzz" -seed="${OSSE_FUZZ_SEED:-1}" \
  -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
  -print_final_stats=1 corpus 2>&1 | tee fuzz.log | grep -E 'stat::|ERROR|SUMMARY|Done' || true
# libFuzzer exits non-zero on a finding; the pipe above hides that, the log does not.
if grep -qE '==ERROR|runtime error|SUMMARY: (Address|Undefined)|deadly signal|Test unit written' fuzz.log; then
  echo "fuzz: finding, see $out/fuzz.log" >&2
  exit 1
fi
execs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' fuzz.log | grep -oE '[0-9]+$' || echo 0)
echo "fuzz: no finding; $execs executions in ${seconds} s ($((execs / seconds)) per second)"
