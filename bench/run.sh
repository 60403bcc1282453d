#!/bin/sh
# Builds the bench in Release and prints its tables; arguments go to the driver:
#   bench/run.sh [--runs=N] [chooser|startup] [N...]   (sizes default to 1000 100000 1000000)
#   bench/run.sh convert [--runs=N] [PK3]              (bspc.exe on the OpenArena maps)
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-bench"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOSTRAND_BENCH=ON \
    -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target bench
echo "Machine: $(nproc) CPUs, $(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')," \
    "$(awk '/^MemTotal/ {printf "%.0f GiB RAM", $2 / 1048576}' /proc/meminfo)," \
    "temp folder on $(df -PT "${TMPDIR:-/tmp}" | awk 'NR == 2 {print $2}')"
# Real windows for the start-up figures, on the tests' own virtual display.
state=$(mktemp -d)
trap '"$repo/tests/xvfb.sh" stop "$state"; rm -rf "$state"' EXIT
"$repo/tests/xvfb.sh" start "$state"
export DISPLAY=":$(cat "$state/display")" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$state"
chmod 700 "$state"
"$build/bench/bench" "$@"
# With no table named, the converter's follows the window ones.
[ "$#" -gt 0 ] || "$build/bench/bench" convert
