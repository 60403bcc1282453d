#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite. The tests
# start their own virtual display, so none is needed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
cd "$top"
echo "==> Running the tests"
ctest --preset default

echo "==> Building again with AddressSanitizer and UBSan, in $top/build-asan"
cmake --preset asan >/dev/null
cmake --build --preset asan
echo "==> Running the tests under the sanitizers"
ctest --preset asan
