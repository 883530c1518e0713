#!/usr/bin/env bash
# Runs one Windows program under Wine, bounded in time; CMake's cross-compiling emulator and the
# end-to-end checks both start programs through it.
#
#   wine-run.sh program.exe [argument ...]
#
# Wine gets a home and a prefix of its own (BOOTREEL_WINE_HOME, default build/wine-home of the
# checkout this script is in, so that two checkouts never share a Wine server),
# prepared once: no sound card needed (ALSA's default device is the null device), no window
# manager needed (windows unmanaged, which keeps destroying a window from stalling), no .NET or
# HTML engine installs. Without DISPLAY the program runs on a private Xvfb screen.
# BOOTREEL_WINE_TIMEOUT bounds the run in seconds (default 120); when it runs out, or Wine fails
# to start, the Wine server of the prefix is ended so nothing is left behind.
set -u

home=${BOOTREEL_WINE_HOME:-$(cd "$(dirname "$0")/../.." && pwd)/build/wine-home}
timeout_s=${BOOTREEL_WINE_TIMEOUT:-120}
export HOME=$home
export WINEPREFIX=$home/prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

if [ -x /usr/lib/wine/wine64 ]; then
    loader=/usr/lib/wine/wine64
elif command -v wine64 >/dev/null; then
    loader=wine64
else
    loader=wine
fi
if [ -x /usr/lib/wine/wineserver64 ]; then
    server=/usr/lib/wine/wineserver64
else
    server=wineserver
fi

end_server() { timeout 20 "$server" -k >/dev/null 2>&1 || true; }

prepare() {
    mkdir -p "$home"
    printf 'pcm.!default { type null }\n' >"$home/.asoundrc"
    if ! timeout 180 "$loader" wineboot -i </dev/null >"$home/wineboot.log" 2>&1 9>&-; then
        echo "wine-run: preparing the Wine prefix failed (see $home/wineboot.log)" >&2
        end_server
        return 1
    fi
    cat >"$home/setup.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="N"
REG
    if ! timeout 60 "$loader" regedit /S "$home/setup.reg" </dev/null >>"$home/wineboot.log" 2>&1 9>&-; then
        echo "wine-run: importing the Wine settings failed" >&2
        end_server
        return 1
    fi
    touch "$WINEPREFIX/.bootreel-ready"
}

mkdir -p "$home"
(
    flock -w 240 9 || { echo "wine-run: prefix lock timed out" >&2; exit 1; }
    [ -f "$WINEPREFIX/.bootreel-ready" ] || prepare || exit 1
    # Keep the Wine server alive between the many short runs of a test suite. When this starts
    # a new one (exit 0; 2 means one is running), start Wine's own background programs (services,
    # the desktop) too, with no output: started by a test program they would inherit its output
    # and keep the pipe of whoever reads it open long after the program ended.
    # (The lock's descriptor is closed for them, or they would hold the lock as long as they run.)
    # The limits here only catch a hang: a server cut short on a busy machine would leave those
    # programs to be started by the test program after all.
    if timeout 60 "$server" -p60 >/dev/null 2>&1 9>&-; then
        timeout 60 "$loader" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$home/.lock" || exit 1

run=(timeout -k 5 "$timeout_s" "$loader" "$@")
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    run=(xvfb-run -a -s "-screen 0 640x480x24 -nolisten tcp" "${run[@]}")
fi
"${run[@]}"
rc=$?
if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
    echo "wine-run: $1 did not finish within ${timeout_s} s" >&2
    end_server
fi
exit $rc
