#!/bin/sh
# Runs the converter's fuzz target for 60 s from a copy of the seed folder.
# Usage: tests/fuzz/run.sh <build-fuzz-dir> <seed-dir>
# Exits non-zero when libFuzzer finds a crash, leak, hang or sanitizer report;
# what it found stays in <build-fuzz-dir>/fuzz-findings/.
set -eu

if [ "$#" -ne 2 ]; then
    echo "usage: $0 <build-fuzz-dir> <seed-dir>" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
seeds=$2
fuzzer="$build/tests/fuzz/bsp_fuzz"
if [ ! -x "$fuzzer" ]; then
    echo "$fuzzer is missing: cmake --preset fuzz && cmake --build build-fuzz" >&2
    exit 2
fi
if [ ! -d "$seeds" ]; then
    echo "no seed folder $seeds" >&2
    exit 2
fi

corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp -R "$seeds"/. "$corpus"/
findings="$build/fuzz-findings"
rm -rf "$findings"
mkdir -p "$findings"

echo "fuzzing for 60 s from $(find "$corpus" -type f | wc -l) seeds in $seeds"
status=0
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
    "$fuzzer" -max_total_time=60 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" || status=$?

found=$(find "$findings" -type f | wc -l)
if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    echo "fuzzing found $found problem input(s) (exit $status), kept in $findings" >&2
    exit 1
fi
echo "fuzzing found nothing"
