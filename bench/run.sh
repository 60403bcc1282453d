#!/bin/sh
# Builds the chooser benchmark in Release and prints its table.
# Usage: bench/run.sh [N...]   (default: 1000 100000 1000000)
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-bench"

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVOSTRAND_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target chooser_bench

if [ "$#" -eq 0 ]; then
    set -- 1000 100000 1000000
fi

echo "Machine: $(nproc) CPUs, $(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')," \
    "$(awk '/^MemTotal/ {printf "%.0f GiB RAM", $2 / 1048576}' /proc/meminfo)," \
    "temp folder on $(df -PT "${TMPDIR:-/tmp}" | awk 'NR == 2 {print $2}')"
echo "Sizes: $*"

QT_QPA_PLATFORM=offscreen "$build/bench/chooser_bench" "$@"
