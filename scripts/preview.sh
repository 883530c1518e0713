#!/usr/bin/env bash
# The main job: builds what is missing and runs bootreel-preview.
#
#   scripts/preview.sh            the bundled sample start-up show, written to build/preview/
#   scripts/preview.sh ARGS...    bootreel-preview ARGS... in the current folder
#                                 (for example: scripts/preview.sh info my.gif)
#
# The program is built by the `preview` preset in build/previewer/, with the tests, benchmarks
# and fuzz targets off, so that it needs nothing but what `scripts/deps.sh --preview` installs,
# whatever else the machine has (a test framework without giflib, say).
set -euo pipefail
here="$(pwd)"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/deps.sh --preview
build="$root/build/previewer"
program="$build/preview/bootreel-preview"
if [ -x "$program" ]; then
    echo "building bootreel-preview (only what changed) ..." >&2
else
    echo "building bootreel-preview (the first time takes a few minutes) ..." >&2
fi
mkdir -p build
log="$root/build/preview-build.log"
# Configure only for a new build folder or changed presets: the build itself re-runs CMake when
# a CMakeLists.txt changed or a source file came or went, so an unchanged tree starts at once.
configure=false
if [ ! -f "$build/build.ninja" ] || [ CMakePresets.json -nt "$build/CMakeCache.txt" ]; then
    configure=true
fi
if ! { { ! $configure || cmake --preset preview; } &&
       cmake --build --preset preview -j "$(nproc)"; } >"$log" 2>&1; then
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
