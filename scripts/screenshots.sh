#!/usr/bin/env bash
# Takes the README's screenshots from the real windows under Xvfb (the
# real-window test saves them) and copies them into docs/screenshots/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh" --tests
cd "$top"
ctest --preset default -R '^(xvfb_.*|tst_window)$'
mkdir -p docs/screenshots
for name in main-1x chooser-bsp-1x chooser-map-1x conversion-1x; do
    cp "build/screenshots/$name.png" "docs/screenshots/$name.png"
    echo "==> docs/screenshots/$name.png"
done
