#!/usr/bin/env bash
# The whole test suite: installs what is missing, then builds and runs
#   0. the README's first command on a fresh Debian 12 in a chroot (scripts/first-run-test.sh;
#      skip with BOOTREEL_SKIP_FIRST_RUN=1);
#   1. every test, plain (preset default);
#   2. every test under AddressSanitizer + UndefinedBehaviorSanitizer (preset asan);
#   3. the show's threads, the simulated device and the reliability runs under ThreadSanitizer
#      (preset tsan; only the programs those tests need are built);
#   4. the GIF and compositor fuzz targets for a short while each (FUZZ_SECONDS, default 60);
#   5. the Windows build under Wine (scripts/wine-test.sh; skip with BOOTREEL_SKIP_WINE=1);
#   6. the 32-bit ARM build under qemu-user with UndefinedBehaviorSanitizer
#      (scripts/arm-test.sh; skip with BOOTREEL_SKIP_ARM=1).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
stage() { echo "== $* ==" >&2; }

if [ "${BOOTREEL_SKIP_FIRST_RUN:-0}" != 1 ]; then
    stage "first run on a fresh Debian 12"
    scripts/first-run-test.sh
fi

for preset in default asan; do
    stage "$preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done

stage tsan
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target platform_tests player_tests host_tests \
    library_tests bootreel reliability_tests
ctest --preset tsan -j "$jobs"

stage fuzz
FUZZ_SECONDS=${FUZZ_SECONDS:-60} scripts/fuzz-gif.sh
FUZZ_SECONDS=${FUZZ_SECONDS:-60} scripts/fuzz-compose.sh

if [ "${BOOTREEL_SKIP_WINE:-0}" != 1 ]; then
    stage "windows build under wine"
    scripts/wine-test.sh
fi

if [ "${BOOTREEL_SKIP_ARM:-0}" != 1 ]; then
    stage "32-bit ARM build under qemu"
    scripts/arm-test.sh
fi
