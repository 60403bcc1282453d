#!/bin/sh
# Builds the benchmarks in Release and prints their tables.
# Usage: bench/run.sh [N...]                both: chooser (default sizes: 1000 100000 1000000)
#                                           and start-up
#        bench/run.sh chooser [N...]        the chooser one only
#        bench/run.sh startup [--runs=N]    the start-up one only (default 9 runs)
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-bench"

which=both
case "${1-}" in
chooser | startup)
    which=$1
    shift
    ;;
esac

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVOSTRAND_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
case "$which" in
chooser) cmake --build "$build" --target chooser_bench ;;
startup) cmake --build "$build" --target startup_bench ;;
*) cmake --build "$build" --target chooser_bench startup_bench ;;
esac

echo "Machine: $(nproc) CPUs, $(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')," \
    "$(awk '/^MemTotal/ {printf "%.0f GiB RAM", $2 / 1048576}' /proc/meminfo)," \
    "temp folder on $(df -PT "${TMPDIR:-/tmp}" | awk 'NR == 2 {print $2}')"

if [ "$which" != startup ]; then
    if [ "$#" -eq 0 ]; then
        set -- 1000 100000 1000000
    fi
    echo "Sizes: $*"
    QT_QPA_PLATFORM=offscreen "$build/bench/chooser_bench" "$@"
    set --
fi

if [ "$which" != chooser ]; then
    # Real windows on a virtual X display of our own, so that painting is real.
    state=$(mktemp -d)
    xvfb_pid=
    cleanup() {
        if [ -n "$xvfb_pid" ]; then
            kill "$xvfb_pid" 2>/dev/null || true
            wait "$xvfb_pid" 2>/dev/null || true
        fi
        rm -rf "$state"
    }
    trap cleanup EXIT
    trap 'exit 130' INT TERM
    if command -v Xvfb >/dev/null; then
        Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp \
            3>"$state/display" >"$state/xvfb.log" 2>&1 </dev/null &
        xvfb_pid=$!
        i=0
        while [ ! -s "$state/display" ]; do
            i=$((i + 1))
            if [ "$i" -gt 100 ]; then
                echo "Xvfb did not start:" >&2
                cat "$state/xvfb.log" >&2
                exit 1
            fi
            sleep 0.1
        done
        export DISPLAY=":$(cat "$state/display")" QT_QPA_PLATFORM=xcb
        echo "Start-up: Xvfb on $DISPLAY"
    else
        export QT_QPA_PLATFORM=offscreen
        echo "Start-up: no Xvfb, offscreen platform (painting into memory only)"
    fi
    # Spares each child Qt's warning about a missing runtime directory.
    if [ -z "${XDG_RUNTIME_DIR-}" ]; then
        mkdir -m 700 "$state/runtime"
        export XDG_RUNTIME_DIR="$state/runtime"
    fi
    "$build/bench/startup_bench" "$@"
fi
