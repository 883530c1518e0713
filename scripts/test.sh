#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds and runs the tests plain, under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the show's threads under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
for preset in default asan tsan; do
    echo "== $preset ==" >&2
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done
