#!/usr/bin/env bash
# Fuzzes every parser of untrusted input of the portable core natively with libFuzzer and the
# address and undefined-behaviour sanitizers (native/CMakeLists.txt, mode fuzz): the trace dump
# decoder, the record item walk, the log cutter behind `ossetool log`, the trap-file reader
# behind `ossetool trap` and ossetool's ecf-value and log arguments. Each target starts from its
# seeds in fuzz/corpus/<target> (written by the tests: scripts/native.sh seeds); what it finds
# new goes to the build folder. Fails on any finding (the crashing input is kept there too: add
# it to the target's corpus with the fix).
# Usage: scripts/fuzz.sh [SECONDS]      all targets within SECONDS (default 240), an equal share
#                                       each: what CI runs
#        scripts/fuzz.sh --long MINUTES each target MINUTES long
# Prints per target: executions, executions per second, coverage (edges) and features, findings.
# Built as 64-bit programs, and also as 32-bit ones (the layouts of the i686 DLL) where this
# machine runs 32-bit code; each width gets the time given.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
root=$OSSE_ROOT
total=240
each=""
if [ "${1:-}" = --long ]; then
  each=$(( ${2:?--long needs MINUTES} * 60 ))
elif [ -n "${1:-}" ]; then
  total=$1
fi

need=()
command -v clang++ >/dev/null || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v python3 >/dev/null || need+=(python3)
widths="64"
osse_can_run_i686 && widths="64 32"
if [ "$widths" != 64 ]; then
  dpkg -s g++-multilib >/dev/null 2>&1 || need+=(g++-multilib)
fi
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq "${need[@]}"
fi

status=0
for bits in $widths; do
  m32=OFF suffix=""
  if [ "$bits" = 32 ]; then m32=ON suffix=32; fi
  out=${OSSE_FUZZ_BUILD:-$root/build/native}/fuzz$suffix
  cmake -S "$root/native" -B "$out" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DOSSE_NATIVE_MODE=fuzz \
        -DOSSE_NATIVE_32=$m32 >/dev/null
  cmake --build "$out" -j"${OSSE_JOBS:-2}" >/dev/null

  targets=()
  for src in "$root"/fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
  [ -n "$each" ] || each=$(( total / ${#targets[@]} ))
  [ "$each" -ge 1 ] || each=1

  printf '%-22s %12s %9s %7s %8s  %s\n' "target ($bits-bit)" executions "exec/s" cov features findings
  for t in "${targets[@]}"; do
    dir="$out/run/$t"
    rm -rf "$dir/findings"
    mkdir -p "$dir/corpus" "$dir/findings"
    cp -n "$root/fuzz/corpus/$t"/* "$dir/corpus/" 2>/dev/null || true
    # A fixed seed makes a run repeat the inputs of an earlier run with the same corpus for as
    # long as that one lasted: a finding is never a matter of luck between two runs of one tree.
    rc=0
    (cd "$dir" && ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=16:detect_leaks=1} \
       "$out/$t" -seed="${OSSE_FUZZ_SEED:-1}" -max_total_time="$each" -max_len=65536 \
       -rss_limit_mb=2048 -timeout=25 -print_final_stats=1 -artifact_prefix="$dir/findings/" \
       corpus >"$dir/fuzz.log" 2>&1) || rc=$?
    stat() { grep -oE "stat::$1: *[0-9]+" "$dir/fuzz.log" | grep -oE '[0-9]+$' || echo 0; }
    execs=$(stat number_of_executed_units)
    rate=$(stat average_exec_per_sec)
    cov=$(grep -oE 'cov: [0-9]+' "$dir/fuzz.log" | tail -1 | grep -oE '[0-9]+' || echo 0)
    ft=$(grep -oE 'ft: [0-9]+' "$dir/fuzz.log" | tail -1 | grep -oE '[0-9]+' || echo 0)
    findings=$(find "$dir/findings" -type f | wc -l)
    if [ "$rc" -ne 0 ] || [ "$findings" -gt 0 ] ||
       grep -qE '==ERROR|runtime error|SUMMARY: (Address|Undefined|Leak)|deadly signal' "$dir/fuzz.log"; then
      status=1
      [ "$findings" -gt 0 ] || findings=1
    fi
    printf '%-22s %12s %9s %7s %8s  %s\n' "$t" "$execs" "$rate" "$cov" "$ft" "$findings"
    [ "$findings" = 0 ] || echo "  see $dir/fuzz.log and $dir/findings/" >&2
  done
done
if [ "$widths" = 64 ]; then
  echo "fuzz: 32-bit run skipped: this machine's kernel refuses 32-bit x86 code"
fi
exit $status
