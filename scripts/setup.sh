#!/usr/bin/env bash
# Installs what is missing on Debian 12, then configures and builds Vostrand
# into build/. Safe to run again: it only installs and rebuilds what is needed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev fonts-dejavu-core
    qt6-translations-l10n
    xvfb xdotool imagemagick x11-utils
    desktop-file-utils appstream dpkg-dev file lintian man-db
    libzip-dev openarena-081-maps openarena-oacmp1 clang libclang-rt-14-dev xclip
)

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
cmake --build --preset default
