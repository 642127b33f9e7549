#!/bin/bash
# Unpacks the PNG conformance images that Debian's libpng source package carries (contrib/pngsuite
# and contrib/testpngs; image files only) into the cache, once.
#   usage: scripts/png-suite.sh   -> the last line of stdout is the folder (pngsuite/, testpngs/)
# Needs the deb-src lines of scripts/setup.sh.
set -euo pipefail
CACHE=${PROJECT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/samplemorph}
OUT=$CACHE/png-conformance
if [ -f "$OUT/.ok" ]; then echo "$OUT"; exit 0; fi
mkdir -p "$CACHE"
exec 9>"$CACHE/.png-suite.lock"
flock 9
if [ -f "$OUT/.ok" ]; then echo "$OUT"; exit 0; fi
T=$(mktemp -d "$CACHE/png-conformance.tmp.XXXXXX")
trap 'rm -rf "$T"' EXIT
( cd "$T" && apt-get source --download-only libpng1.6 ) >"$T/fetch.log" 2>&1 || true
tarball=$(ls "$T"/libpng1.6_*.orig.tar.* 2>/dev/null | head -n1)
[ -n "$tarball" ] || { echo "png-suite: apt-get source libpng1.6 gave no tarball:" >&2; tail -n 5 "$T/fetch.log" >&2; exit 1; }
mkdir -p "$T/out/pngsuite" "$T/out/testpngs"
tar -xf "$tarball" -C "$T" --wildcards '*/contrib/pngsuite/*.png' '*/contrib/testpngs/*.png'
src=$(ls -d "$T"/libpng-*/contrib)
cp "$src"/pngsuite/*.png "$T/out/pngsuite/"
mkdir -p "$T/out/pngsuite/interlaced" "$T/out/testpngs/crashers"
cp "$src"/pngsuite/interlaced/*.png "$T/out/pngsuite/interlaced/"
cp "$src"/testpngs/*.png "$T/out/testpngs/"
cp "$src"/testpngs/crashers/*.png "$T/out/testpngs/crashers/"
touch "$T/out/.ok"
rm -rf "$OUT"
mv "$T/out" "$OUT"
echo "$OUT"
