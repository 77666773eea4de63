#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test NRVOSSE: the mingw-w64 i686 and
# x86_64 cross compilers, 64-bit Wine, CMake, Ninja and the GoogleTest sources; and 32-bit Wine
# only where this machine can execute 32-bit code (elsewhere it could not start anyway).
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
[ ${#need[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if [ "$i686_wine" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "bootstrap: installing ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${need[@]}" >/dev/null
# python3 may only now be there: decide about 32-bit Wine once more.
if [ "$i686_wine" = 0 ] && osse_can_run_i686 && ! have_pkg wine32:i386; then
  dpkg --print-foreign-architectures | grep -qx i386 || { $SUDO dpkg --add-architecture i386; $SUDO apt-get update -qq; }
  $SUDO apt-get install -y -qq wine32:i386 >/dev/null
fi
