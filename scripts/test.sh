#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite. The tests
# start their own virtual display, so none is needed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
echo "==> Running the tests"
ctest --test-dir "$top/build" --output-on-failure
