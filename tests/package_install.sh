#!/bin/sh
# Installs the .deb that packaging.sh built, as a user would, runs both
# programs from where the package put them, and removes it again, checking
# that nothing is left. Needs root, Xvfb and xdotool.
# Usage: package_install.sh <source-dir> <build-dir>
set -eu
src="$1"
build="$2"
fail() { echo "$*" >&2; exit 1; }
installed() { dpkg-query -W -f='${Status}' vostrand 2>/dev/null | grep -q 'ok installed'; }

[ "$(id -u)" -eq 0 ] || { echo "installing a package needs root; not run"; exit 77; }
# Someone's own installation is theirs: this test neither replaces nor removes it.
if installed; then
    echo "vostrand is already installed here; remove it to run this test"
    exit 77
fi

deb=$(ls "$build"/package/vostrand_*.deb)
work=$(mktemp -d)
program=
cleanup() {
    [ -z "$program" ] || kill "$program" 2>/dev/null || true
    [ ! -d "$work/xvfb" ] || "$src/tests/xvfb.sh" stop "$work/xvfb"
    if installed; then
        DEBIAN_FRONTEND=noninteractive apt-get remove -y vostrand >/dev/null 2>&1 ||
            dpkg -r vostrand >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

DEBIAN_FRONTEND=noninteractive apt-get install -y "$(realpath "$deb")"
echo "installed files:"
dpkg -L vostrand
[ "$(readlink -f /usr/bin/vostrand)" = /usr/lib/vostrand/vostrand ] ||
    fail "/usr/bin/vostrand does not lead to /usr/lib/vostrand/vostrand"

# The window comes up and keeps running.
QT_QPA_PLATFORM=offscreen /usr/bin/vostrand >"$work/vostrand.log" 2>&1 &
program=$!
sleep 1
kill -0 "$program" 2>/dev/null || { cat "$work/vostrand.log" >&2; fail "vostrand ended at start"; }
kill "$program"
wait "$program" || true
program=

# The packaged converter on a real map, as its manual page describes it:
# <case>|<arguments>|<exit status>|<file that must then exist, or ->
bspc=/usr/lib/vostrand/bspc.exe
map=/usr/share/games/openarena/baseoa/pak1-maps.pk3/maps/oa_ctf2.bsp
mkdir "$work/out"
while IFS='|' read -r name args status made; do
    echo "== $name: bspc.exe $args"
    set +e
    # shellcheck disable=SC2086 # the arguments are split on purpose
    $bspc $args >"$work/stdout" 2>"$work/stderr"
    got=$?
    set -e
    cat "$work/stdout" "$work/stderr"
    [ "$got" -eq "$status" ] || fail "$name: exit status $got, expected $status"
    [ "$made" = - ] || [ -s "$made" ] || fail "$name: $made was not written"
done <<EOF
brush primitives|-bsp2map $map -output $work/out|0|$work/out/oa_ctf2.map
classic, keeping the last one|-bsp2map $map -output $work/out -format classic|0|$work/out/oa_ctf2.map.bak
no output folder|-bsp2map $map -output $work/missing|1|-
no arguments||2|-
EOF
grep -q brushDef "$work/out/oa_ctf2.map.bak" || fail "the default form has no brushDef"
grep -q brushDef "$work/out/oa_ctf2.map" && fail "the classic form still has brushDef"
grep -q '"classname" "worldspawn"' "$work/out/oa_ctf2.map" || fail "the map has no worldspawn"
[ ! -e "$work/missing" ] || fail "a missing output folder was created"

# Through the window, as a user would: started by its link from a folder that
# holds no converter, vostrand must find the one beside the link's target.
"$src/tests/xvfb.sh" start "$work/xvfb"
DISPLAY=":$(cat "$work/xvfb/display")"
export DISPLAY
mkdir "$work/gui"
(cd "$work/gui" && exec /usr/bin/vostrand) >"$work/vostrand.log" 2>&1 &
program=$!
window=$(xdotool search --sync --onlyvisible --name '^Quelm BSP')
xdotool windowfocus --sync "$window"
xdotool type --delay 30 "$map"
xdotool key --delay 30 Tab Tab
xdotool type --delay 30 "$work/gui"
xdotool key --delay 30 Tab Tab space
# The .map only appears, by a rename, once it is whole. The bound only keeps a
# broken run from hanging; a conversion takes seconds.
for _ in $(seq 1200); do
    [ ! -s "$work/gui/oa_ctf2.map" ] || break
    kill -0 "$program" 2>/dev/null || { cat "$work/vostrand.log" >&2; fail "vostrand ended"; }
    sleep 0.5
done
[ -s "$work/gui/oa_ctf2.map" ] || { cat "$work/vostrand.log" >&2; fail "Descompilar wrote no map"; }
cmp "$work/gui/oa_ctf2.map" "$work/out/oa_ctf2.map.bak" ||
    fail "the map made through the window differs from the converter's own"
kill "$program"
wait "$program" || true
program=

DEBIAN_FRONTEND=noninteractive apt-get remove -y vostrand
if dpkg -L vostrand >/dev/null 2>&1; then
    fail "dpkg still knows files of vostrand: $(dpkg -L vostrand)"
fi
for path in /usr/lib/vostrand /usr/bin/vostrand /usr/share/doc/vostrand \
    /usr/share/man/man1/vostrand.1.gz /usr/share/man/man1/bspc.exe.1.gz; do
    if [ -e "$path" ] || [ -L "$path" ]; then fail "$path is left after removal"; fi
done
echo "installed, ran and removed cleanly"
