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
source scripts/fuzz-run.sh
fuzz_run fuzz-gif gif_fuzz 65536 "$PWD/fuzz/corpus/gif"
