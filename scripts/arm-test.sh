#!/usr/bin/env bash
# The 32-bit ARM stage: cross-builds the library, Tunelet and every test program that needs no
# display for armhf (preset armhf: UndefinedBehaviorSanitizer with its alignment checks, any
# report fails the test) and runs the tests under qemu-user. Runnable on its own; exits 0 only
# when everything built and passed.
#
#   scripts/arm-test.sh [ctest argument ...]     e.g. -L gif
#
# Environment: JOBS (parallel build and test jobs, default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/arm-deps.sh
jobs=${JOBS:-2}

echo "== armhf: build ==" >&2
cmake --preset armhf >/dev/null
cmake --build --preset armhf -j "$jobs"

echo "== armhf: tests under qemu-arm ==" >&2
ctest --preset armhf -j "$jobs" "$@"
