#!/bin/sh
# Validates the desktop entry and AppStream data, builds the .deb into
# <build-dir>/package, and checks what it holds and depends on, that lintian
# finds nothing wrong with it, that its copyright is the license, and that its
# manual pages render cleanly. Usage: packaging.sh <source-dir> <build-dir>
set -eu
src="$1"
build="$2"
fail() { echo "$*" >&2; exit 1; }

desktop-file-validate "$src/app/org.vostrand.Vostrand.desktop"
appstreamcli validate --no-net "$build/app/org.vostrand.Vostrand.metainfo.xml"

out="$build/package"
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages" # cpack's staging tree, not needed again
deb=$(ls "$out"/vostrand_*.deb)

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for need in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins qt6-translations-l10n; do
    echo "$depends" | grep -q "$need" || fail "missing dependency $need"
done

files=$(dpkg-deb -c "$deb")
for path in ./usr/lib/vostrand/vostrand ./usr/lib/vostrand/bspc.exe ./usr/bin/vostrand \
    ./usr/share/applications/org.vostrand.Vostrand.desktop \
    ./usr/share/metainfo/org.vostrand.Vostrand.metainfo.xml \
    ./usr/share/icons/hicolor/16x16/apps/org.vostrand.Vostrand.png \
    ./usr/share/icons/hicolor/32x32/apps/org.vostrand.Vostrand.png \
    ./usr/share/icons/hicolor/scalable/apps/org.vostrand.Vostrand.svg \
    ./usr/share/doc/vostrand/copyright ./usr/share/doc/vostrand/changelog.gz \
    ./usr/share/man/man1/vostrand.1.gz ./usr/share/man/man1/bspc.exe.1.gz; do
    echo "$files" | grep -q " $path\( \|$\)" || fail "package lacks $path"
done
echo "$files" | grep -q "./usr/bin/vostrand -> ../lib/vostrand/vostrand" ||
    fail "usr/bin/vostrand is not a link to the program folder"

# Every error and warning counts; only the notice about running as root, which
# CI does, and the informational tags may remain.
lintian=$(lintian "$deb" 2>&1) || true
echo "lintian: ${lintian:-(nothing)}"
echo "$lintian" | grep -E '^[EW]: ' >&2 && fail "lintian rejects the package"

tree="$out/tree"
dpkg-deb -x "$deb" "$tree"
doc="$tree/usr/share/doc/vostrand"

# The copyright states the license of LICENSE word for word.
# Its only indented lines are the license text.
sed -n 's/^ //p' "$doc/copyright" | sed 's/^\.$//' >"$out/license.txt"
sed -n '/^Permission/,$p' "$src/LICENSE" | cmp - "$out/license.txt" ||
    fail "the package copyright's license text is not LICENSE"
grep -qx "Copyright: $(sed -n 's/^Copyright (c) //p' "$src/LICENSE")" "$doc/copyright" ||
    fail "the package copyright names other holders than LICENSE"
grep -q '<project_license>MIT</project_license>' \
    "$tree/usr/share/metainfo/org.vostrand.Vostrand.metainfo.xml" ||
    fail "the AppStream data does not give the MIT license"

# The newest changelog entry is the package's version.
version=$(dpkg-deb -f "$deb" Version)
zcat "$doc/changelog.gz" | head -1 | grep -q "^vostrand ($version) " ||
    fail "changelog.gz does not start with version $version"

# The manual pages render without a warning and say what a user needs to know:
# <page>|<text the rendered page must hold>
man1="$tree/usr/share/man/man1"
while IFS='|' read -r page text; do
    MANWIDTH=80 man --warnings -l "$man1/$page.1.gz" >"$out/$page.txt" 2>"$out/$page.err"
    [ ! -s "$out/$page.err" ] || { cat "$out/$page.err" >&2; fail "$page(1) renders with warnings"; }
    # Joined into one line, so that a phrase broken across lines still matches.
    tr -s ' \n' '  ' <"$out/$page.txt" | grep -qF -- "$text" || fail "$page(1) does not say \"$text\""
done <<EOF
vostrand|vostrand - desktop front end for the bspc.exe BSP to MAP converter
vostrand|only from the folder that holds the vostrand executable itself
vostrand|never from the working directory and never from PATH
vostrand|/usr/lib/vostrand/bspc.exe
bspc.exe|bspc.exe - turn a compiled Quake III BSP map back into MAP source
bspc.exe|-bsp2map input
bspc.exe|-output folder
bspc.exe|-format classic
bspc.exe|An empty folder means the folder that holds the input file
bspc.exe|is kept as name.map.bak
bspc.exe|EXIT STATUS 0 The whole .map was written
bspc.exe| 1 An input or output error
bspc.exe| 2 Wrong usage
bspc.exe|only from the folder that holds the vostrand executable itself
EOF

# Every option the converter's own help names is in its manual page.
"$tree/usr/lib/vostrand/bspc.exe" --help >"$out/help.txt" 2>&1 || fail "bspc.exe --help failed"
for option in $(grep -oE -- '(^|[[ ])--?[a-z0-9]+' "$out/help.txt" | tr -d ' [' | sort -u); do
    grep -qF -- "$option" "$out/bspc.exe.txt" || fail "bspc.exe(1) does not describe $option"
done
echo "package ok: $(basename "$deb")"
