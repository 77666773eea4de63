#!/usr/bin/env bash
# Builds the API reference from the public headers (include/osse/*.h) with Doxygen into
# build/docs/html, installing Doxygen first where it is missing (as root or with sudo).
# Every problem Doxygen reports is an error: an exported function, a class or record, a field,
# a macro or a type without documentation, a broken link or a comment Doxygen cannot read.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${OSSE_DOCS_OUT:-$root/build/docs}

if ! command -v doxygen >/dev/null 2>&1; then
  echo "docs: installing doxygen"
  if [ "$(id -u)" = 0 ]; then as_root=(); else as_root=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends doxygen >/dev/null ||
    { "${as_root[@]}" apt-get update >/dev/null &&
      "${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends doxygen >/dev/null; }
fi
command -v python3 >/dev/null || { echo "docs: python3 is needed (the header filter)" >&2; exit 1; }

mkdir -p "$out"
rm -rf "$out/html" "$out/warnings.log"
cd "$root"
OSSE_DOCS_OUT=$out doxygen docs/Doxyfile
log=$out/warnings.log
problems=$(grep -c . "$log" || true)
if [ "$problems" != 0 ]; then
  sed "s|^$root/||" "$log" >&2
  echo "docs: $problems problem(s) in the API reference (listed above)" >&2
  exit 1
fi
echo "docs: API reference in $out/html/index.html"
