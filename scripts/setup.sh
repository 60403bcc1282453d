#!/usr/bin/env bash
# Installs what is missing on Debian 12, then configures and builds Vostrand
# into build/. Safe to run again: it only installs and rebuilds what is needed.
#   setup.sh          what running needs; builds the program and its converter
#   setup.sh --tests  also what the tests need; builds everything
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev fonts-dejavu-core
    qt6-translations-l10n libzip-dev
)
targets=(--target vostrand bspc)
if [ "${1:-}" = --tests ]; then
    packages+=(
        xvfb xdotool imagemagick x11-utils xclip
        desktop-file-utils appstream dpkg-dev file lintian man-db
        clang libclang-rt-14-dev
        openarena-081-maps openarena-oacmp1 openarena-081-textures openarena-data
    )
    targets=()
fi

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "==> Installing: ${missing[*]}"
    as_root apt-get update
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
else
    echo "==> All packages present"
fi

cd "$top"
echo "==> Configuring in $top/build"
cmake --preset default >/dev/null
echo "==> Building"
cmake --build --preset default "${targets[@]}"
