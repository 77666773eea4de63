# Sourced by the other scripts: where the two builds live, which Wine runs them, and which of
# the two architectures this machine can execute.
OSSE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OSSE_BUILD=${OSSE_BUILD:-$OSSE_ROOT/build}
OSSE_ARCHES="x86_64 i686"
# One prefix for both architectures, created by the 64-bit loader: named kernel objects and the
# temporary folder (where named traces live) belong to a prefix, so a 32-bit and a 64-bit peer
# meet only inside one. A private prefix also keeps runs independent of HOME.
export WINEPREFIX=${WINEPREFIX:-$OSSE_BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

osse_build_dir() { echo "$OSSE_BUILD/$1"; }

# Debian's `wine` starts the 32-bit loader first; 64-bit programs go to wine64 by its full path.
osse_find_wine64() {
  local w
  for w in "$(command -v wine64 2>/dev/null)" /usr/lib/wine/wine64 /usr/lib/x86_64-linux-gnu/wine/wine64 \
           /opt/wine-stable/bin/wine64; do
    [ -n "$w" ] && [ -x "$w" ] && { echo "$w"; return 0; }
  done
  return 1
}
osse_find_wineserver() {
  local w
  for w in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver "$(command -v wineserver 2>/dev/null)"; do
    [ -n "$w" ] && [ -x "$w" ] && { echo "$w"; return 0; }
  done
  return 1
}

# Whether the kernel runs 32-bit x86 code at all: some virtual machines refuse it outright
# ("Exec format error"), and there neither wine32 nor a -m32 program can start. The probe is a
# 84-byte static i386 ELF program that only exits with status 42, so it needs no 32-bit library.
osse_can_run_i686() {
  if [ -z "${OSSE_I686_RUNS:-}" ]; then
    local probe
    probe=$(mktemp)
    python3 - "$probe" <<'PY'
import struct, sys
code = bytes([0xB8, 1, 0, 0, 0, 0xBB, 42, 0, 0, 0, 0xCD, 0x80])  # exit(42) via int 0x80
base, hdr = 0x08048000, 52 + 32
elf = b"\x7fELF" + bytes([1, 1, 1]) + bytes(9)
elf += struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + hdr, 52, 0, 0, 52, 32, 1, 0, 0, 0)
elf += struct.pack("<IIIIIIII", 1, 0, base, base, hdr + len(code), hdr + len(code), 5, 0x1000)
open(sys.argv[1], "wb").write(elf + code)
PY
    chmod +x "$probe"
    local rc=0
    "$probe" 2>/dev/null || rc=$?
    rm -f "$probe"
    if [ "$rc" -eq 42 ]; then OSSE_I686_RUNS=1; else OSSE_I686_RUNS=0; fi
    export OSSE_I686_RUNS
  fi
  [ "$OSSE_I686_RUNS" = 1 ]
}

# The architectures this machine executes, in the order they are tested.
osse_runnable_arches() {
  if osse_can_run_i686; then echo "x86_64 i686"; else echo "x86_64"; fi
}
osse_skip_note() {
  osse_can_run_i686 ||
    echo "i686: built (its layout pins are compile-time checks) but not run: this machine's kernel refuses 32-bit x86 code (Exec format error)"
}

# Runs a Windows program of the given architecture under Wine.
osse_wine() {
  local arch=$1; shift
  if [ "$arch" = x86_64 ]; then "$(osse_find_wine64)" "$@"; else wine "$@"; fi
}
osse_winepath() { "$(osse_find_wine64)" winepath -w "$1" 2>/dev/null | tr -d '\r'; }

osse_configure_and_build() {
  local arch dir
  for arch in $OSSE_ARCHES; do
    dir=$(osse_build_dir "$arch")
    # Each build knows the other's folder and whether it runs here, for the tests that start
    # a peer of the other architecture.
    local peer=i686 peer_runs=0
    [ "$arch" = i686 ] && peer=x86_64
    if [ "$peer" = x86_64 ] || osse_can_run_i686; then peer_runs=1; fi
    echo "== configure and build $arch"
    cmake -S "$OSSE_ROOT" -B "$dir" -G Ninja \
          -DCMAKE_TOOLCHAIN_FILE="$OSSE_ROOT/cmake/mingw-$arch.cmake" \
          -DOSSE_PEER_BUILD_DIR="$(osse_build_dir "$peer")" -DOSSE_PEER_RUNS=$peer_runs >/dev/null
  done
  for arch in $OSSE_ARCHES; do
    cmake --build "$(osse_build_dir "$arch")" -j"$(nproc)"
  done
}

# Wine's helper processes must not inherit the pipes of whoever starts Wine first (CTest would
# wait for them forever): start the wineserver and a first process with every descriptor
# closed. A failure here is fatal: carrying on would bring that hang back.
osse_wine_up() {
  mkdir -p "$WINEPREFIX"
  local server wine64
  server=$(osse_find_wineserver) || { echo "wine: no wineserver found" >&2; return 1; }
  wine64=$(osse_find_wine64) || { echo "wine: no wine64 found" >&2; return 1; }
  # wineserver -p exits with 2 when a server already runs in this prefix: that one is kept.
  if ! ( { "$server" -p || [ $? -eq 2 ]; } && "$wine64" cmd /c exit ) </dev/null >/dev/null 2>&1; then
    echo "wine: could not start the wineserver and a first 64-bit process in $WINEPREFIX" >&2
    return 1
  fi
  if osse_can_run_i686 && ! (wine cmd /c exit) </dev/null >/dev/null 2>&1; then
    echo "wine: could not start a first 32-bit process in $WINEPREFIX" >&2
    return 1
  fi
}
osse_wine_down() {
  local server
  server=$(osse_find_wineserver) && "$server" -k >/dev/null 2>&1 || true
}
