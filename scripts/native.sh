#!/usr/bin/env bash
# The portable core of the library built natively with clang (native/CMakeLists.txt) and its
# unit tests run under the sanitizers. Installs what it needs (clang, its runtimes, GoogleTest,
# CMake, Ninja, LLVM's coverage tools) when missing.
# Usage: scripts/native.sh [MODE...]
#   test      unit tests under AddressSanitizer + UndefinedBehaviorSanitizer (build/native/asan)
#   tsan      the *_threads_test.cpp programs under ThreadSanitizer (build/native/tsan)
#   coverage  unit tests with source-based coverage; prints line coverage per portable file
#   seeds     runs the unit tests with OSSE_FUZZ_SEED_DIR=fuzz/corpus: they write the seeds
#             of the fuzz targets (check the changes in)
# With no MODE: test and tsan. Exit status non-zero when a build, a test or a sanitizer fails.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
root=$OSSE_ROOT
out=${OSSE_NATIVE_BUILD:-$root/build/native}
modes=("$@")
[ ${#modes[@]} -gt 0 ] || modes=(test tsan)

need=()
command -v clang++ >/dev/null || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.asan-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v python3 >/dev/null || need+=(python3)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
command -v llvm-cov >/dev/null && command -v llvm-profdata >/dev/null || need+=(llvm)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq "${need[@]}"
fi

configure() {  # mode
  cmake -S "$root/native" -B "$out/$1" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
        -DOSSE_NATIVE_MODE="$1" >/dev/null
  cmake --build "$out/$1" -j"${OSSE_JOBS:-2}"
}

status=0
for mode in "${modes[@]}"; do
  case $mode in
    test)
      echo "== native unit tests under ASan+UBSan"
      configure asan
      (cd "$out/asan" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
         ctest --timeout 120 --output-on-failure) || status=1
      ;;
    tsan)
      echo "== native threads tests under TSan"
      if ! ls "$root"/tests/native/*_threads_test.cpp >/dev/null 2>&1; then
        echo "no *_threads_test.cpp yet"
        continue
      fi
      configure tsan
      (cd "$out/tsan" && ctest --timeout 120 --output-on-failure) || status=1
      ;;
    coverage)
      echo "== line coverage of the portable core by the native unit tests"
      configure coverage
      rm -f "$out/coverage"/*.profraw
      (cd "$out/coverage" && LLVM_PROFILE_FILE="$out/coverage/%p.profraw" ctest --timeout 120 >/dev/null) || status=1
      llvm-profdata merge -sparse "$out/coverage"/*.profraw -o "$out/coverage/tests.profdata"
      objects=()
      # The unit tests' program first: llvm-cov reads the others' records against its own.
      for exe in "$out/coverage/native_unit_tests" "$out/coverage"/*_test; do
        [ -x "$exe" ] && [ -f "$exe" ] && objects+=(-object "$exe")
      done
      mapfile -t sources < "$out/coverage/portable_sources.txt"
      # The headers beside them hold code too (the dump decoder's templates): those the tests
      # reach are reported with them.
      for dir in $(printf '%s\n' "${sources[@]}" | xargs -n1 dirname | sort -u); do
        for h in "$dir"/*.h; do [ -f "$h" ] && sources+=("$h"); done
      done
      mapfile -t sources < <(printf '%s\n' "${sources[@]}" | awk '!seen[$0]++')
      llvm-cov report "${objects[@]:1}" -instr-profile="$out/coverage/tests.profdata" \
        "${sources[@]}" | sed "s#$root/##"
      echo "(line by line: llvm-cov show ${objects[*]:1} -instr-profile=$out/coverage/tests.profdata FILE)"
      ;;
    seeds)
      echo "== the unit tests write the fuzz targets' seeds to fuzz/corpus"
      configure asan
      OSSE_FUZZ_SEED_DIR="$root/fuzz/corpus" "$out/asan/native_unit_tests" >/dev/null || status=1
      git -C "$root" status --short fuzz/corpus
      ;;
    *)
      echo "native.sh: unknown mode $mode (test, tsan, coverage, seeds)" >&2
      exit 2
      ;;
  esac
done
exit $status
