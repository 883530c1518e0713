# The short fuzz run that scripts/fuzz-gif.sh and scripts/fuzz-compose.sh make (sourced, not
# run): builds one libFuzzer target with clang and the sanitizers in build/fuzz-gif, runs it
# for FUZZ_SECONDS (default 60) from a fresh corpus folder plus any seed folders given, prints
# how many inputs ran and exits non-zero when the fuzzer finds a crash, a leak or a sanitizer
# report (the input that did it is kept as build/fuzz-gif/crash-*).
# Usage: fuzz_run NAME TARGET MAX_LEN [SEED_FOLDER ...]   (from the project's root)
fuzz_run() {
    local name=$1 target=$2 max_len=$3
    shift 3
    local seconds=${FUZZ_SECONDS:-60} build=build/fuzz-gif
    cmake --preset fuzz -B "$build" -DBOOTREEL_TESTS=ON >/dev/null
    cmake --build "$build" --target "$target" -j 2
    local work
    work=$(mktemp -d)
    # shellcheck disable=SC2064  # the folder is known now
    trap "rm -rf '$work'" EXIT
    mkdir "$work/corpus"
    local status=0
    (cd "$build" && "./fuzz/$target" -max_total_time="$seconds" -max_len="$max_len" \
        -rss_limit_mb=2048 -timeout=20 -print_final_stats=1 "$work/corpus" "$@") \
        >"$work/log" 2>&1 || status=$?
    grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$work/log" || true
    if [ "$status" -ne 0 ]; then
        grep -E "ERROR|SUMMARY|Test unit written" "$work/log" | head -20 >&2
        echo "$name: the fuzzer found a fault (exit $status)" >&2
        exit 1
    fi
    echo "$name: no fault in ${seconds}s"
}
