#!/bin/sh
# Builds the .deb into <build-dir>/package and checks it. Usage: packaging.sh <source-dir> <build-dir>
set -eu
src="$1"
out="$2/package"
fail() { echo "$*" >&2; exit 1; }

desktop-file-validate "$src/app/org.vostrand.Vostrand.desktop"
appstreamcli validate --no-net "$2/app/org.vostrand.Vostrand.metainfo.xml"
rm -rf "$out"
(cd "$2" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/vostrand_*.deb)
dpkg-deb -x "$deb" "$out/tree"
cd "$out/tree/usr"
id=org.vostrand.Vostrand icon=share/icons/hicolor/*/apps/$id
for path in lib/vostrand/bspc.exe share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
    share/mime/packages/$id.xml $icon.png $icon.svg; do
    [ -s "$path" ] || fail "package lacks $path"
done

lintian -I "$deb" >"$out/lintian.txt" 2>&1 || true
grep -E '^[EW]: |hardening' "$out/lintian.txt" >&2 && fail "lintian rejects the package"

zcat share/doc/vostrand/changelog.gz | head -1 | grep -qF "vostrand ($(dpkg-deb -f "$deb" Version)) " ||
    fail "the changelog does not start with the package's version"

MANWIDTH=80 man -l share/man/man1/bspc.exe.1.gz >"$out/bspc.exe.txt"
help=$(lib/vostrand/bspc.exe --help 2>&1) || fail "bspc.exe --help failed"
for option in $(echo "$help" | grep -oE -- '(^|[[ ])--?[a-z0-9]+' | tr -d ' [' | sort -u); do
    grep -qF -- "$option" "$out/bspc.exe.txt" || fail "bspc.exe(1) does not describe $option"
done
