#!/usr/bin/env bash
# Fuzzes the GIF decoder for a short while (CI): builds the libFuzzer target with clang and the
# sanitizers, runs it over the seed corpus in fuzz/corpus/gif for FUZZ_SECONDS (default 60),
# prints how many inputs ran and exits non-zero when the fuzzer finds a crash, a leak or a
# sanitizer report (the input that did it is kept as build/fuzz-gif/crash-*).
#
# Longer runs: FUZZ_SECONDS=3600 scripts/fuzz-gif.sh, or run the target yourself, e.g.
#   build/fuzz-gif/fuzz/gif_fuzz -max_total_time=36000 -jobs=2 -max_len=65536 my_corpus fuzz/corpus/gif
# (a corpus folder of your own keeps what the fuzzer learns between runs). Every crash found
# should become a regression test in tests/decode/gif.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=build/fuzz-gif
cmake --preset fuzz -B "$build" -DBOOTREEL_TESTS=ON >/dev/null
cmake --build "$build" --target gif_fuzz -j 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log="$work/log"
status=0
(cd "$build" && ./fuzz/gif_fuzz -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
    -timeout=20 -print_final_stats=1 "$work" "$OLDPWD/fuzz/corpus/gif") >"$log" 2>&1 || status=$?
grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$log" || true
if [ "$status" -ne 0 ]; then
    grep -E "ERROR|SUMMARY|Test unit written" "$log" | head -20 >&2
    echo "fuzz-gif: the fuzzer found a fault (exit $status)" >&2
    exit 1
fi
echo "fuzz-gif: no fault in ${seconds}s"
