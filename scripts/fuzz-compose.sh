#!/usr/bin/env bash
# Fuzzes the layer compositor for a short while (CI), as scripts/fuzz-gif.sh does the GIF
# decoder: builds the libFuzzer target fuzz_compose with clang and the sanitizers (in the same
# build folder), runs it from an empty corpus for FUZZ_SECONDS (default 60), prints how many
# inputs ran and exits non-zero when the fuzzer finds a crash, a leak or a sanitizer report (the
# input that did it is kept as build/fuzz-gif/crash-*). Every crash found should become a
# regression test in tests/raster.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=build/fuzz-gif
cmake --preset fuzz -B "$build" -DBOOTREEL_TESTS=ON >/dev/null
cmake --build "$build" --target fuzz_compose -j 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log="$work/log"
mkdir "$work/corpus"
status=0
(cd "$build" && ./fuzz/fuzz_compose -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 \
    -timeout=20 -print_final_stats=1 "$work/corpus") >"$log" 2>&1 || status=$?
grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$log" || true
if [ "$status" -ne 0 ]; then
    grep -E "ERROR|SUMMARY|Test unit written" "$log" | head -20 >&2
    echo "fuzz-compose: the fuzzer found a fault (exit $status)" >&2
    exit 1
fi
echo "fuzz-compose: no fault in ${seconds}s"
