#!/usr/bin/env bash
# Fuzzes the layer compositor for a short while (CI), as scripts/fuzz-gif.sh does the GIF
# decoder: builds the libFuzzer target fuzz_compose with clang and the sanitizers (in the same
# build folder), runs it from an empty corpus for FUZZ_SECONDS (default 60), prints how many
# inputs ran and exits non-zero when the fuzzer finds a crash, a leak or a sanitizer report (the
# input that did it is kept as build/fuzz-gif/crash-*). Every crash found should become a
# regression test in tests/raster.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz-run.sh
fuzz_run fuzz-compose fuzz_compose 4096
