#!/usr/bin/env bash
# End-to-end checks of the Windows binaries under Wine: whole shows run by bootreel-run.exe,
# observed by their events, by the window's pixels after every frame, and by a screenshot of
# the X display; and Tunelet with and without its sound file.
#
#   e2e.sh SCENARIO RUN_EXE MEDIA_EXE DLL TUNELET_EXE
#
# SCENARIO: colours | shutdown | shutdown-silent | end-request | done-event | close-outside |
#           twice | no-window | tunelet-present | tunelet-missing
# Needs DISPLAY (an X server such as the Xvfb that scripts/wine-test.sh starts); exits 77
# (skipped) without one. Each scenario has a device folder of its own (BOOTREEL_DEVICE_ROOT)
# and writes the registry it needs.
set -uo pipefail

scenario=$1 run_exe=$2 media_exe=$3 dll=$4 tunelet_exe=$5
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/wine-run.sh

if [ -z "${DISPLAY:-}" ]; then
    echo "e2e: no DISPLAY; run scripts/wine-test.sh, which provides an X server" >&2
    exit 77
fi

device=$(mktemp -d /tmp/bootreel-e2e.XXXXXX)
trap 'rm -rf "$device"' EXIT
winpath() { local p; p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); echo "Z:${p//\//\\}"; }
export BOOTREEL_DEVICE_ROOT
BOOTREEL_DEVICE_ROOT=$(winpath "$device")

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
# expect NAME ACTUAL EXPECTED
expect() { [ "$2" == "$3" ] || fail "$1 is '$2', expected '$3'"; }
# expect_range NAME ACTUAL LOW HIGH
expect_range() {
    if ! [[ "$2" =~ ^[0-9]+$ ]] || [ "$2" -lt "$3" ] || [ "$2" -gt "$4" ]; then
        fail "$1 is '$2', expected $3..$4"
    fi
}
# expect_pass LINE: the render thread sleeps its 20 ms in every pass and the show asked for the
# 1 ms timer (and gave it back). The request is what the harness recorded of the library's
# timeBeginPeriod: under Wine a 20 ms sleep lasts 20 ms whatever period is asked for, so the
# length of a pass cannot tell (on Windows the desktop's 15.6 ms default stretches it to about
# 31 ms). The pass has only a lower bound, one ms under the sleep: a busy machine makes passes
# longer, never shorter, and a render thread that spun would make it far shorter.
expect_pass() {
    local pass
    pass=$(field "$1" pass_ms)
    expect_range pass_ms "${pass%.*}" 19 100000
    expect timer_period "$(field "$1" timer_period)" 1
    expect timer_released "$(field "$1" timer_released)" yes
}
# expect_ends_at_tick LINE: the call returned at the first tick of timer 1 taken after the
# action (the harness acts on the show's thread, so "after" is an order, not a time), and the
# render thread ended by itself: had it been waited for in vain (15 x 100 ms) the library would
# have gone on to force it (TerminateThread, recorded), and the window's timer would have gone
# on ticking only if the show had not ended at the tick. The tick is timer 1's: it comes 3000 ms
# after the window was created, never sooner (10 ms below for the tick counter's steps); a busy
# machine only makes it later, which no check here bounds.
expect_ends_at_tick() {
    local tick window
    tick=$(field "$1" tick_ms)
    window=$(field "$1" window_ms)
    expect ticks_after_action "$(field "$1" ticks_after_action)" 1
    expect_range "tick_ms - window_ms" "$(( ${tick:-0} - ${window:-0} ))" 2990 1000000
    expect forced "$(field "$1" forced)" 0
}

# field LINE KEY: the value of key=value in a report line.
field() { printf '%s\n' "$1" | tr ' ' '\n' | sed -n "s/^$2=//p" | head -n1; }

# registry IMAGE WAV LEVEL: the configuration of both modes and the sound level, replacing
# whatever an earlier scenario left in the prefix.
registry() {
    local reg=$device/show.reg
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        for mode in Startup Shutdown; do
            printf '[-HKEY_LOCAL_MACHINE\\Software\\Korvel\\%s]\r\n\r\n' "$mode"
            printf '[HKEY_LOCAL_MACHINE\\Software\\Korvel\\%s]\r\n' "$mode"
            printf '"Image"="%s"\r\n"WAV"="%s"\r\n\r\n' "${1//\\/\\\\}" "${2//\\/\\\\}"
        done
        printf '[HKEY_CURRENT_USER\\ControlPanel\\SoundCategories\\System]\r\n'
        printf '"InitVol"=dword:%08x\r\n' "$3"
    } >"$reg"
    BOOTREEL_WINE_TIMEOUT=60 "$wine_run" regedit /S "$(winpath "$reg")" ||
        { fail "registry import"; return 1; }
}

make_media() {
    BOOTREEL_WINE_TIMEOUT=60 "$wine_run" "$media_exe" "$BOOTREEL_DEVICE_ROOT" ||
        { fail "writing the test media"; return 1; }
}

# screenshot FILE: the whole X screen as PNG. xwd gives up when a window it is reading goes away
# meanwhile (Wine's own windows come and go), so a failed shot is taken again; the limit of 50
# tries only catches a screen that cannot be read at all.
screenshot() {
    local try
    for try in $(seq 50); do
        xwd -root -silent 2>/dev/null | convert xwd:- "$1" 2>/dev/null && return 0
    done
    return 1
}

# The picture (64x48) is shown at its own size, centred in the full-screen window.
screen_size() {
    local size
    screenshot "$device/screen.png" || return 1
    size=$(convert "$device/screen.png" -format '%w %h' info:) || return 1
    read -r screen_w screen_h <<<"$size"
    left=$(( -((64 - screen_w) / 2) ))
    top=$(( -((48 - screen_h) / 2) ))
}

# pixel FILE X Y: the colour at a point of a screenshot as RRGGBB.
pixel() {
    convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- | sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' |
        head -n1 | tr a-f A-F
}

# run_show ARGS...: runs the harness; the report lines land in $device/report.
run_show() {
    BOOTREEL_WINE_TIMEOUT=${limit_s:-60} "$wine_run" "$run_exe" --dll "$(winpath "$dll")" "$@" \
        >"$device/report" 2>"$device/stderr"
    local rc=$?
    sed 's/^/  report: /' "$device/report" >&2
    [ $rc -eq 0 ] || { fail "bootreel-run exited with $rc"; sed 's/^/  stderr: /' "$device/stderr" >&2; }
}

show_line() { grep "^show=$1 " "$device/report" | tr -d '\r'; }

# ---- Scenarios ---------------------------------------------------------------------------

scenario_colours() {
    make_media && registry '\colours.gif' '\sound.wav' 5 || return
    screen_size || { fail "cannot read the screen"; return; }
    local probes=(--probe 10,10 --probe "$left,$top" --probe "$((left + 22)),$((top + 24))"
                  --probe "$((left + 40)),$((top + 24))")
    # The harness holds frame 1 (the second picture the probes see) on screen until it reads a
    # line on stdin: the screenshot is of that frame however late a busy machine takes it.
    mkfifo "$device/release"
    BOOTREEL_WINE_TIMEOUT=60 "$wine_run" "$run_exe" --dll "$(winpath "$dll")" --mode startup \
        "${probes[@]}" --hold-picture 2 <"$device/release" >"$device/report" \
        2>"$device/stderr" &
    local harness=$!
    exec 4>"$device/release"
    # Each wait below ends on its event or when the harness has ended (Wine's run limit bounds
    # it); the polls only look again, they never decide by time.
    until grep -q '^holding' "$device/report" 2>/dev/null || ! kill -0 $harness 2>/dev/null; do
        sleep 0.05
    done
    if grep -q '^holding' "$device/report"; then
        # The window's pixels reach the X screen when Wine next flushes them: take shots until
        # the screen shows frame 1's green at the probe point, then check every point.
        until screenshot "$device/shot.png" &&
              [ "$(pixel "$device/shot.png" "$((left + 40))" "$((top + 24))")" == 00FF00 ]; do
            kill -0 $harness 2>/dev/null || { fail "frame 1 never reached the screen"; break; }
            sleep 0.05
        done
    else
        fail "frame 1 was never shown"
    fi
    # (A harness that has already ended reads nothing: the write then fails quietly.)
    (trap '' PIPE; echo shot >&4) 2>/dev/null
    exec 4>&-
    wait $harness || { fail "bootreel-run exited with $?"; sed 's/^/  stderr: /' "$device/stderr" >&2; }
    sed 's/^/  report: /' "$device/report" >&2
    local line
    line=$(show_line 1)
    expect returned "$(field "$line" returned)" yes
    expect done_event "$(field "$line" done_event)" signalled
    expect windows_left "$(field "$line" windows_left)" 0
    # The frames' delays add up to 3.1 s (the last one's pass ends it); a busy machine and the
    # screenshot's hold only make the show longer, and the harness's limit bounds it.
    expect_range call_ms "$(field "$line" call_ms)" 2900 1000000
    expect_pass "$line"
    # Every frame in turn: red, then green with the red shining through the transparent half,
    # then blue, which is on screen when the show ends.
    expect frames "$(field "$line" frames)" \
        "FFFFFF.FF0000.FF0000.FF0000,FFFFFF.FF0000.FF0000.00FF00,FFFFFF.0000FF.0000FF.0000FF"

    [ -f "$device/shot.png" ] || return
    # Screenshot points: background, the picture's corners and its edges (centring), and the
    # two halves of frame 1's rectangle (transparency).
    local -a points=(
        "10 10 FFFFFF"
        "$((left - 1)) $top FFFFFF"
        "$left $((top - 1)) FFFFFF"
        "$left $top FF0000"
        "$((left + 63)) $((top + 47)) FF0000"
        "$((left + 64)) $((top + 47)) FFFFFF"
        "$((left + 63)) $((top + 48)) FFFFFF"
        "$((left + 16)) $((top + 12)) FF0000"
        "$((left + 31)) $((top + 35)) FF0000"
        "$((left + 32)) $((top + 12)) 00FF00"
        "$((left + 47)) $((top + 35)) 00FF00"
        "$((left + 48)) $((top + 35)) FF0000"
        "$((screen_w - 1)) $((screen_h - 1)) FFFFFF"
    )
    for p in "${points[@]}"; do
        read -r x y colour <<<"$p"
        expect "screenshot pixel ($x,$y)" "$(pixel "$device/shot.png" "$x" "$y")" "$colour"
    done
}

scenario_shutdown() {
    make_media && registry '\short.gif' '\sound.wav' 5 || return
    screen_size || { fail "cannot read the screen"; return; }
    run_show --mode shutdown --named-event --media-window --probe "$left,$top"
    local line
    line=$(show_line 1)
    expect returned "$(field "$line" returned)" yes
    expect done_event "$(field "$line" done_event)" signalled
    expect media_window_closed "$(field "$line" media_window_closed)" yes
    expect named_event "$(field "$line" named_event)" signalled
    expect frames "$(field "$line" frames)" FF0000,0000FF
    # The sound is played to its end, the event is signalled after it, and the call returns
    # after the event: the harness records the event's state when the sound's synchronous play
    # returns and when the call returns, so the order needs no clock. (Durations are not
    # checked: Wine on ALSA's null device plays sound faster than real time.)
    expect sounds "$(field "$line" sounds)" 1
    expect named_before_sound_end "$(field "$line" named_before_sound_end)" no
    expect named_at_return "$(field "$line" named_at_return)" signalled
    expect forced "$(field "$line" forced)" 0
}

scenario_shutdown_silent() {
    make_media && registry '\short.gif' '\sound.wav' 0 || return
    run_show --mode shutdown --named-event --media-window --probe 10,10
    local line
    line=$(show_line 1)
    expect returned "$(field "$line" returned)" yes
    expect done_event "$(field "$line" done_event)" signalled
    expect media_window_closed "$(field "$line" media_window_closed)" yes
    # Sound level 0: no sound is played (recorded by the harness), so the call has none to wait
    # for and the event is never signalled.
    expect sounds "$(field "$line" sounds)" 0
    expect named_event "$(field "$line" named_event)" clear
    expect threads_left "$(field "$line" threads_left)" 0
}

scenario_end_request() {
    make_media && registry '\long.gif' '\sound.wav' 0 || return
    screen_size || { fail "cannot read the screen"; return; }
    run_show --mode startup --end-after 500 --probe "$left,$top"
    local line
    line=$(show_line 1)
    expect returned "$(field "$line" returned)" yes
    expect done_event "$(field "$line" done_event)" signalled
    # Seen at the first tick of the 3 s timer, long before the 10 s frame ends.
    expect_ends_at_tick "$line"
    expect_pass "$line"
    expect frames "$(field "$line" frames)" FF0000
    expect windows_left "$(field "$line" windows_left)" 0
    expect threads_left "$(field "$line" threads_left)" 0
}

scenario_done_event() {
    make_media && registry '\long.gif' '\sound.wav' 0 || return
    screen_size || { fail "cannot read the screen"; return; }
    run_show --mode startup --done-after 500 --probe "$left,$top"
    local line
    line=$(show_line 1)
    expect returned "$(field "$line" returned)" yes
    # The loop sees the event only between the messages it takes: it ends after the first one
    # taken after the event, usually the first tick of timer 1 (on a busy machine a late paint
    # of the new window may come first, which is as right), and nothing is forced.
    expect messages_after_action "$(field "$line" messages_after_action)" 1
    expect forced "$(field "$line" forced)" 0
    expect frames "$(field "$line" frames)" FF0000
    expect windows_left "$(field "$line" windows_left)" 0
    expect threads_left "$(field "$line" threads_left)" 0
}

scenario_close_outside() {
    make_media && registry '\long.gif' '\sound.wav' 0 || return
    screen_size || { fail "cannot read the screen"; return; }
    run_show --mode startup --close-after 500 --probe "$left,$top"
    local line
    line=$(show_line 1)
    expect returned "$(field "$line" returned)" yes
    expect done_event "$(field "$line" done_event)" signalled
    # Close ends the show at once: the show's thread takes no tick of timer 1 after the close
    # was posted (a posted close comes before any tick, so only a show that went on playing
    # would see one), and the render thread is not forced.
    expect_range "close posted, ms" "$(field "$line" action_ms)" 0 1000000
    expect ticks_after_action "$(field "$line" ticks_after_action)" 0
    expect forced "$(field "$line" forced)" 0
    expect frames "$(field "$line" frames)" FF0000
    expect windows_left "$(field "$line" windows_left)" 0
    expect threads_left "$(field "$line" threads_left)" 0
}

scenario_twice() {
    make_media && registry '\short.gif' '\sound.wav' 0 || return
    screen_size || { fail "cannot read the screen"; return; }
    run_show --mode startup --shows 2 --probe "$left,$top"
    for show in 1 2; do
        local line
        line=$(show_line $show)
        expect "show $show returned" "$(field "$line" returned)" yes
        expect "show $show done_event" "$(field "$line" done_event)" signalled
        expect "show $show frames" "$(field "$line" frames)" FF0000,0000FF
        expect "show $show windows_left" "$(field "$line" windows_left)" 0
        expect "show $show threads_left" "$(field "$line" threads_left)" 0
    done
}

scenario_no_window() {
    make_media && registry '\short.gif' '\sound.wav' 5 || return
    # The show's owner is a window that no longer exists, so the show's own window cannot be
    # created. The call must return at once, and a caller waiting on doneEvent must see it
    # signalled: a boot sequence would otherwise wait for ever.
    for mode in startup shutdown; do
        run_show --mode "$mode" --gone-owner --named-event --limit 10000
        local line call
        line=$(show_line 1)
        call=$(field "$line" call_ms)
        expect "$mode returned" "$(field "$line" returned)" yes
        expect "$mode done_event" "$(field "$line" done_event)" signalled
        # The waiter saw the event (-1: never). Its time is when it ran again, which a busy
        # machine delays past the call's return, so it has no upper bound; nor has the call,
        # which the harness's limit bounds: without a window nothing of the show runs (no
        # timer ticks, no frame, no sound), which the fields below show.
        expect_range "$mode done_wait_ms" "$(field "$line" done_wait_ms)" 0 1000000
        expect_range "$mode call_ms" "$call" 0 1000000
        expect "$mode ticks" "$(field "$line" ticks)" 0
        expect "$mode sounds" "$(field "$line" sounds)" 0
        expect "$mode window_ms" "$(field "$line" window_ms)" -1
        expect "$mode frames" "$(field "$line" frames)" -
        # No window, so no sound: the shut-down event is not signalled either.
        expect "$mode named_event" "$(field "$line" named_event)" clear
        expect "$mode windows_left" "$(field "$line" windows_left)" 0
        expect "$mode threads_left" "$(field "$line" threads_left)" 0
    done
}

run_tunelet() {
    BOOTREEL_WINE_TIMEOUT=60 "$wine_run" "$run_exe" --tunelet "$(winpath "$tunelet_exe")" \
        --limit 30000 >"$device/report" 2>"$device/stderr" || fail "bootreel-run exited with $?"
    sed 's/^/  report: /' "$device/report" >&2
    tr -d '\r' <"$device/report"
}

scenario_tunelet_present() {
    make_media || return
    mkdir -p "$device/Windows"
    cp "$device/sound.wav" "$device/Windows/startup.wav"
    local line
    line=$(run_tunelet)
    expect boxes "$(field "$line" boxes)" 0
    expect finished "$(field "$line" finished)" yes
    expect exit_code "$(field "$line" exit_code)" 0
    # finished=yes: it ended within the harness's limit, however slowly.
}

scenario_tunelet_missing() {
    local line
    line=$(run_tunelet)
    expect boxes "$(field "$line" boxes)" 1
    expect caption "$(printf '%s\n' "$line" | sed -n 's/.*caption="\([^"]*\)".*/\1/p')" \
        "Tunelet 0.1"
    expect text "$(printf '%s\n' "$line" | sed -n 's/.*text="\([^"]*\)".*/\1/p')" \
        "Cannot find startup.wav"
    expect finished "$(field "$line" finished)" yes
    expect exit_code "$(field "$line" exit_code)" 0
}

case $scenario in
    colours) scenario_colours ;;
    shutdown) scenario_shutdown ;;
    shutdown-silent) scenario_shutdown_silent ;;
    end-request) scenario_end_request ;;
    done-event) scenario_done_event ;;
    close-outside) scenario_close_outside ;;
    twice) scenario_twice ;;
    no-window) scenario_no_window ;;
    tunelet-present) scenario_tunelet_present ;;
    tunelet-missing) scenario_tunelet_missing ;;
    *) echo "e2e: unknown scenario '$scenario'" >&2; exit 2 ;;
esac

if [ $failures -gt 0 ]; then
    echo "e2e $scenario: $failures check(s) failed" >&2
    exit 1
fi
echo "e2e $scenario: passed"
