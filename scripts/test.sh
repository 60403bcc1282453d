#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite. The tests
# start their own virtual display, so none is needed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh" --tests
cd "$top"
echo "==> Running the tests"
ctest --preset default

# The converter's own tests above wrote the small and hostile BSPs it starts from.
echo "==> Fuzzing the converter for 60 s (libFuzzer, ASan, UBSan), in $top/build-fuzz"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
"$top/tests/fuzz/run.sh" "$top/build-fuzz" "$top/build/tests/bsp-seeds"

echo "==> Building again with AddressSanitizer and UBSan, in $top/build-asan"
cmake --preset asan >/dev/null
cmake --build --preset asan
echo "==> Running the tests under the sanitizers"
ctest --preset asan
