#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test NRVOSSE: the mingw-w64 i686
# cross compiler, Wine with 32-bit support, CMake, Ninja and the GoogleTest sources.
# Safe to run again: it installs only what is missing.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for pkg in g++-mingw-w64-i686 binutils-mingw-w64-i686 cmake ninja-build googletest wine wine32:i386 python3; do
  have_pkg "$pkg" || need+=("$pkg")
done
[ ${#need[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "bootstrap: installing ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq "${need[@]}" >/dev/null
