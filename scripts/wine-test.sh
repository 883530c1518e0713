#!/usr/bin/env bash
# The Windows stage: builds bootreel.dll, Tunelet.exe and the test programs with MinGW-w64 and
# runs every test of that build under Wine (unit tests through CMake's cross-compiling
# emulator, then whole shows and Tunelet checked by events and pixels) on a private Xvfb
# screen. Runnable on its own; exits 0 only when everything built and passed.
#
#   scripts/wine-test.sh [ctest argument ...]     e.g. -L win32 for the end-to-end checks only
#
# Environment: BOOTREEL_WINE_HOME (Wine's home and prefix, default build/wine-home of this
# checkout, so that two checkouts tested at once never share a Wine server or see each other's
# windows),
# JOBS (parallel build and test jobs, default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh g++-mingw-w64-x86-64 googletest wine wine64 xvfb x11-apps imagemagick
jobs=${JOBS:-2}

echo "== mingw: build ==" >&2
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs"

# Wine's settings, as tests/win32/wine-run.sh uses them, for ending its server.
export BOOTREEL_WINE_HOME=${BOOTREEL_WINE_HOME:-$PWD/build/wine-home}
end_wine() {
    HOME=$BOOTREEL_WINE_HOME WINEPREFIX=$BOOTREEL_WINE_HOME/prefix \
        timeout 20 "$(command -v wineserver64 || echo /usr/lib/wine/wineserver64)" -k \
        >/dev/null 2>&1 || true
}

# A screen of the handheld's shape that nothing else draws on. Xvfb picks a free display
# number and writes it to a pipe once it accepts connections; reading it waits for exactly
# that, however busy the machine (and ends empty if Xvfb cannot start).
pipe_dir=$(mktemp -d)
mkfifo "$pipe_dir/display"
Xvfb -displayfd 3 -screen 0 240x320x24 -nolisten tcp 3>"$pipe_dir/display" >/dev/null 2>&1 &
xvfb_pid=$!
cleanup() {
    end_wine
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
    rm -rf "$pipe_dir"
}
trap cleanup EXIT
display=""
read -r display <"$pipe_dir/display" || true
[ -n "$display" ] || { echo "wine-test: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$display

# A Wine server still running from an earlier run would be attached to another screen.
end_wine

echo "== mingw: tests under Wine on $DISPLAY ==" >&2
timeout 1200 ctest --preset mingw -j "$jobs" "$@"
