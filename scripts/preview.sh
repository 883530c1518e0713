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
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target bootreel-preview -j "$(nproc)" >/dev/null
program="$root/build/default/preview/bootreel-preview"
if [ $# -eq 0 ]; then
    cd "$root/build"
    status=0
    "$program" || status=$?
    echo "open $root/build/preview/contact-sheet.png or recording.webp to see the show"
    exit "$status"
fi
cd "$here"
exec "$program" "$@"
