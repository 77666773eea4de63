#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test NRVOSSE: the mingw-w64 i686 and
# x86_64 cross compilers, 64-bit Wine, CMake, Ninja and the GoogleTest sources; and 32-bit Wine
# only where this machine can execute 32-bit code (elsewhere it could not start anyway). Then,
# for the trace viewer test, Debian's chromium, Node.js with npm, and the viewer's npm packages
# (tests/viewer/package.json) in $OSSE_BUILD/viewer; where those cannot be installed it says so
# and goes on (that test is then skipped with the reason).
# Safe to run again: it installs only what is missing.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"

have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
need=()
for pkg in g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 \
           binutils-mingw-w64-x86-64 cmake ninja-build googletest wine wine64 python3; do
  have_pkg "$pkg" || need+=("$pkg")
done
command -v python3 >/dev/null || need+=(python3)
i686_wine=0
if command -v python3 >/dev/null && osse_can_run_i686; then
  i686_wine=1
  have_pkg wine32:i386 || need+=(wine32:i386)
fi
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# The trace viewer test's browser and packages: installed here, never while tests run.
viewer_tools() {
  local want=() dir="$OSSE_BUILD/viewer"
  command -v chromium >/dev/null || want+=(chromium)
  # Node.js may come from elsewhere than Debian (its npm then comes with it): look for the
  # commands, not the packages.
  command -v node >/dev/null || want+=(nodejs)
  command -v npm >/dev/null || want+=(npm)
  if [ ${#want[@]} -gt 0 ]; then
    echo "bootstrap: installing ${want[*]} for the trace viewer test"
    { $SUDO apt-get update -qq && $SUDO apt-get install -y -qq "${want[@]}" >/dev/null; } ||
      echo "bootstrap: could not install ${want[*]}: the trace viewer test will be skipped"
  fi
  command -v npm >/dev/null || return 0
  # The pinned versions, installed again only when they changed.
  if ! cmp -s "$OSSE_ROOT/tests/viewer/package.json" "$dir/package.json" ||
     [ ! -f "$dir/node_modules/speedscope/dist/release/index.html" ] ||
     [ ! -d "$dir/node_modules/playwright-core" ]; then
    mkdir -p "$dir"
    cp "$OSSE_ROOT/tests/viewer/package.json" "$dir/package.json"
    echo "bootstrap: installing speedscope and playwright-core into $dir"
    (cd "$dir" && timeout 600 npm install --no-audit --no-fund --loglevel=error >/dev/null) || {
      rm -f "$dir/package.json"
      echo "bootstrap: npm could not install the viewer packages: the trace viewer test will be skipped"
    }
  fi
}

if [ ${#need[@]} -eq 0 ]; then
  viewer_tools
  exit 0
fi

if [ "$i686_wine" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "bootstrap: installing ${need[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${need[@]}" >/dev/null
# python3 may only now be there: decide about 32-bit Wine once more.
if [ "$i686_wine" = 0 ] && osse_can_run_i686 && ! have_pkg wine32:i386; then
  dpkg --print-foreign-architectures | grep -qx i386 || { $SUDO dpkg --add-architecture i386; $SUDO apt-get update -qq; }
  $SUDO apt-get install -y -qq wine32:i386 >/dev/null
fi
viewer_tools
