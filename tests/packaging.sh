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
for need in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins qt6-translations-l10n; do
    dpkg-deb -f "$deb" Depends | grep -q "$need" || fail "missing dependency $need"
done
icon=share/icons/hicolor app=apps/org.vostrand.Vostrand
for path in lib/vostrand/bspc.exe share/applications/org.vostrand.Vostrand.desktop \
    share/metainfo/org.vostrand.Vostrand.metainfo.xml share/mime/packages/org.vostrand.Vostrand.xml \
    $icon/16x16/$app.png $icon/32x32/$app.png $icon/scalable/$app.svg; do
    [ -s "$path" ] || fail "package lacks $path"
done
[ -x bin/vostrand ] && [ "$(readlink bin/vostrand)" = ../lib/vostrand/vostrand ] ||
    fail "usr/bin/vostrand is not a link to the program in its folder"

lintian -I "$deb" >"$out/lintian.txt" 2>&1 || true
grep -E '^[EW]: |hardening' "$out/lintian.txt" >&2 && fail "lintian rejects the package"

doc=share/doc/vostrand
sed -n 's/^ //p' $doc/copyright | sed 's/^\.$//' >"$out/license.txt"
sed -n '/^Permission/,$p' "$src/LICENSE" | cmp - "$out/license.txt" || fail "copyright is not LICENSE"
grep -qx "Copyright: $(sed -n 's/^Copyright (c) //p' "$src/LICENSE")" $doc/copyright ||
    fail "the package copyright names other holders than LICENSE"
zcat $doc/changelog.gz | head -1 | grep -qF "vostrand ($(dpkg-deb -f "$deb" Version)) " ||
    fail "the changelog does not start with the package's version"

for page in vostrand bspc.exe; do
    MANWIDTH=80 man --warnings -l "share/man/man1/$page.1.gz" 2>&1 >"$out/$page.txt" |
        grep . >&2 && fail "$page(1) does not render cleanly"
done
help=$(lib/vostrand/bspc.exe --help 2>&1) || fail "bspc.exe --help failed"
for option in $(echo "$help" | grep -oE -- '(^|[[ ])--?[a-z0-9]+' | tr -d ' [' | sort -u); do
    grep -qF -- "$option" "$out/bspc.exe.txt" || fail "bspc.exe(1) does not describe $option"
done
version=$(lib/vostrand/bspc.exe --version)
grep -qF "$version" "$out/bspc.exe.txt" || fail "bspc.exe(1) does not give the version it prints: $version"
