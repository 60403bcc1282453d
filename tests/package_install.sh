#!/bin/sh
# Installs the .deb that packaging.sh built, converts a real map with it, removes it again.
set -eu
src="$1"
fail() { echo "$*" >&2; exit 1; }
installed() { dpkg-query -W -f='${Status}' vostrand 2>/dev/null | grep -q 'ok installed'; }
[ "$(id -u)" -eq 0 ] || { echo "installing a package needs root; not run"; exit 77; }
installed && { echo "vostrand is already installed here, and stays; not run"; exit 77; }

deb=$(realpath "$2"/package/vostrand_*.deb)
work=$(mktemp -d)
program=
cleanup() {
    [ -z "$program" ] || kill "$program" 2>/dev/null || true
    [ ! -d "$work/xvfb" ] || "$src/tests/xvfb.sh" stop "$work/xvfb"
    ! installed || DEBIAN_FRONTEND=noninteractive apt-get remove -y vostrand >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb"

map=/usr/share/games/openarena/baseoa/pak1-maps.pk3/maps/oa_ctf2.bsp
# Started by its link from a folder without a converter, vostrand finds the one beside its target.
"$src/tests/xvfb.sh" start "$work/xvfb"
export DISPLAY=":$(cat "$work/xvfb/display")"
(cd "$work" && exec /usr/bin/vostrand "$map") >"$work/vostrand.log" 2>&1 &
program=$!
xdotool windowfocus --sync "$(xdotool search --sync --onlyvisible --name '^Quelm BSP')"
xdotool key --delay 30 Tab Tab
xdotool type --delay 30 "$work"
xdotool key --delay 30 Tab Tab space
# The .map appears by a rename once whole; the bound only keeps a broken run from hanging.
for _ in $(seq 1200); do
    [ ! -s "$work/oa_ctf2.map" ] && kill -0 "$program" 2>/dev/null || break
    sleep 0.5
done
grep -q '"classname" "worldspawn"' "$work/oa_ctf2.map" || { cat "$work/vostrand.log" >&2; fail "Descompilar made no map"; }

DEBIAN_FRONTEND=noninteractive apt-get remove -y vostrand
