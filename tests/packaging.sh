#!/bin/sh
# Validates the desktop entry and AppStream data, and builds the .deb to check
# what it holds and depends on. Usage: packaging.sh <source-dir> <build-dir>
set -eu
src="$1"
build="$2"
desktop-file-validate "$src/app/org.vostrand.Vostrand.desktop"
appstreamcli validate --no-net "$build/app/org.vostrand.Vostrand.metainfo.xml"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for need in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins qt6-translations-l10n; do
    echo "$depends" | grep -q "$need" || { echo "missing dependency $need" >&2; exit 1; }
done
files=$(dpkg-deb -c "$deb")
for path in ./usr/lib/vostrand/vostrand ./usr/bin/vostrand \
    ./usr/share/applications/org.vostrand.Vostrand.desktop \
    ./usr/share/metainfo/org.vostrand.Vostrand.metainfo.xml \
    ./usr/share/icons/hicolor/16x16/apps/org.vostrand.Vostrand.png \
    ./usr/share/icons/hicolor/32x32/apps/org.vostrand.Vostrand.png \
    ./usr/share/icons/hicolor/scalable/apps/org.vostrand.Vostrand.svg; do
    echo "$files" | grep -q " $path" || { echo "package lacks $path" >&2; exit 1; }
done
echo "$files" | grep -q "./usr/bin/vostrand -> ../lib/vostrand/vostrand" ||
    { echo "usr/bin/vostrand is not a link to the program folder" >&2; exit 1; }
echo "package ok: $(basename "$deb")"
