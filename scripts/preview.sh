#!/usr/bin/env bash
# The main job: builds what is missing and runs bootreel-preview.
#
#   scripts/preview.sh            the bundled sample start-up show, written to build/preview/
#   scripts/preview.sh ARGS...    bootreel-preview ARGS... in the current folder
#                                 (for example: scripts/preview.sh info my.gif)
set -euo pipefail
here="$(pwd)"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/deps.sh --preview
# Without the test framework (scripts/test.sh installs it) the build leaves the tests out.
tests=ON
dpkg-query -W -f='${Status}' libgtest-dev 2>/dev/null | grep -q "install ok installed" || tests=OFF
program="$root/build/default/preview/bootreel-preview"
if [ -x "$program" ]; then
    echo "building bootreel-preview (only what changed) ..." >&2
else
    echo "building bootreel-preview (the first time takes a few minutes) ..." >&2
fi
mkdir -p build
log="$root/build/preview-build.log"
if ! { cmake --preset default -DBOOTREEL_TESTS=$tests &&
       cmake --build --preset default --target bootreel-preview -j "$(nproc)"; } >"$log" 2>&1; then
    echo "the build failed; the end of $log:" >&2
    tail -n 30 "$log" >&2
    exit 2
fi
if [ $# -eq 0 ]; then
    cd "$root/build"
    status=0
    "$program" || status=$?
    echo "open $root/build/preview/report.html in a browser to see the show (or recording.mp4, contact-sheet.png)"
    exit "$status"
fi
cd "$here"
exec "$program" "$@"
