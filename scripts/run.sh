#!/usr/bin/env bash
# Installs what is missing, builds, and starts Vostrand.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
echo "==> Starting $top/build/app/vostrand"
exec "$top/build/app/vostrand"
