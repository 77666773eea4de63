# Sourced by the other scripts: where the build lives and which Wine prefix it uses.
OSSE_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OSSE_BUILD=${OSSE_BUILD:-$OSSE_ROOT/build}
# A private prefix keeps runs independent of HOME and of each other.
export WINEPREFIX=${WINEPREFIX:-$OSSE_BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

osse_configure_and_build() {
  cmake -S "$OSSE_ROOT" -B "$OSSE_BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$OSSE_ROOT/cmake/mingw-i686.cmake" >/dev/null
  cmake --build "$OSSE_BUILD" -j"$(nproc)"
}

# Wine's helper processes must not inherit the pipes of whoever starts Wine first (CTest would
# wait for them forever): start the wineserver and a first process with every descriptor closed.
osse_wine_up() {
  mkdir -p "$WINEPREFIX"
  (wineserver -p; wine cmd /c exit) </dev/null >/dev/null 2>&1 || true
}
osse_wine_down() { wineserver -k >/dev/null 2>&1 || true; }
