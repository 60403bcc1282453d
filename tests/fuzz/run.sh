#!/bin/sh
# Fuzzes the converter for 60 s from a copy of the seeds; what it finds stays in <build-fuzz-dir>/fuzz-findings/.
set -eu
build=$(cd "$1" && pwd)
[ -x "$build/tests/fuzz/bsp_fuzz" ] && [ -d "$2" ] || { echo "usage: $0 <build-fuzz-dir> <seed-dir>" >&2; exit 2; }
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp -R "$2"/. "$corpus"/
findings="$build/fuzz-findings"
rm -rf "$findings" && mkdir -p "$findings"
echo "fuzzing for 60 s from $(find "$corpus" -type f | wc -l) seeds in $2"
status=0
ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}" \
    "$build/tests/fuzz/bsp_fuzz" -max_total_time=60 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" || status=$?
found=$(find "$findings" -type f | wc -l)
[ "$status" -eq 0 ] && [ "$found" -eq 0 ] || { echo "fuzzing found $found problem input(s) (exit $status), kept in $findings" >&2; exit 1; }
echo "fuzzing found nothing"
