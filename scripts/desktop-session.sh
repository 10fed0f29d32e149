# Helpers for the scripts that run the updater's windows: the X server's screen
# for every headless run (test.sh, sanitizers.sh), using the window as a person
# would (run-as-user.sh, test-windows.sh), and the checks of what the packages
# install (test-windows.sh, test-deb.sh). Sourced, not run.
#
# The window helpers expect the sourcing script to define say and fail, and to
# set shots (the screenshot folder), log (the program's output) and pid (the
# program, once started). wait_for_main_window sets title, frameLeft and
# frameTop (the panel's offset in the window), wid, winX, winY, winW and winH.

# The screen of every headless X server: room for the main window and the
# help window centred on it.
xvfbScreen="1280x1024x24"

# expected KEY [NAME=VALUE...]: what the program shows, from tests/expected.json
# (a text with its placeholders filled, a number, a list's numbers separated by
# spaces), as the unit tests and the screen checker read it. Fails, naming the
# key, on a key the file lacks or a placeholder left unfilled.
expectedReader="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/support/expected.py"
expected() { python3 "$expectedReader" "$@"; }

# Wine, as the Windows program's tests run it: no Mono or Gecko (the program
# needs neither, and their installers would ask), no menu entries on this
# machine for the shortcuts the installer makes.
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
wineDllOverrides="mscoree,mshtml,winemenubuilder.exe="

# make_wine_prefix: makes the Wine prefix WINEPREFIX on the X display DISPLAY.
# Windows are left unmanaged: Xvfb has no window manager, and Wine would wait
# for one on every window it hides.
make_wine_prefix()
{
    WINEDLLOVERRIDES="$wineDllOverrides" "$wine" wineboot --init </dev/null \
        && "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null \
        && "$wineserver" -w
}

# xvfb_run COMMAND...: runs the command on an X server of its own.
xvfb_run() { xvfb-run -a -s "-screen 0 $xvfbScreen" "$@"; }

# start_xvfb FOLDER: starts an X server of its own for the rest of the script,
# in the background (xvfbPid), and exports its DISPLAY once it is ready. Its
# log goes into FOLDER.
start_xvfb()
{
    local folder="$1" i
    Xvfb -displayfd 3 -screen 0 "$xvfbScreen" -nolisten tcp 3>"$folder/display" >"$folder/xvfb.log" 2>&1 &
    xvfbPid=$!

    # Xvfb writes the number of the free display it took once it is ready.
    for (( i = 0; i < 200; ++i )); do
        grep -q '^[0-9][0-9]*$' "$folder/display" 2>/dev/null && break
        kill -0 "$xvfbPid" 2>/dev/null || fail "Xvfb did not start (see $folder/xvfb.log)"
        sleep 0.1
    done
    grep -q '^[0-9][0-9]*$' "$folder/display" || fail "Xvfb did not report its display"
    export DISPLAY=":$(cat "$folder/display")"
}

now_ms() { date +%s%3N; }

# check [--show] DESCRIPTION COMMAND...: runs the command as one check, says
# its verdict and counts it. A failed check shows the command's output (with
# --show, a passed one too) and the run goes on; checks_done says the count
# and fails if any check did.
checksPassed=0
checksFailed=0

check()
{
    local show=false what output
    [[ "$1" == --show ]] && { show=true; shift; }
    what="$1"
    shift

    if output="$("$@" 2>&1)"; then
        checksPassed=$(( checksPassed + 1 ))
        say "ok    $what"
        ! $show || [[ -z "$output" ]] || sed 's/^/          /' <<<"$output"
    else
        checksFailed=$(( checksFailed + 1 ))
        say "FAIL  $what" >&2
        [[ -z "$output" ]] || sed 's/^/          /' <<<"$output" >&2
    fi
}

checks_done()
{
    say "checks: $checksPassed passed, $checksFailed failed"
    (( checksFailed == 0 ))
}

# screenshot NAME: the screen into $shots/NN-NAME.png, numbered in the order
# taken; shot is its path.
numShots=0

screenshot()
{
    numShots=$(( numShots + 1 ))
    shot="$shots/$(printf %02d $numShots)-$1.png"
    import -window root "$shot"
    say "screenshot $shot"
}

# check_screens ARGUMENTS...: tests/windows/check_screens.py on screenshots of
# the main window, told where its panel is.
screensChecker="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/tests/windows/check_screens.py"
check_screens() { "$screensChecker" $(( winX + frameLeft )) $(( winY + frameTop )) "$@"; }

# screenshot_showing NAME MODE [ARGUMENT]: takes the screenshot NAME once
# check_screens MODE finds that it shows what it should, retaking it every
# half second. Its 30 s are a safety net: the checks made on the screenshot
# afterwards say what a late picture lacks.
screenshot_showing()
{
    local name="$1" i
    shift
    screenshot "$name" >/dev/null
    for (( i = 0; i < 60; ++i )); do
        check_screens "$@" "$shot" >/dev/null && break
        sleep 0.5
        import -window root "$shot"
    done
    say "screenshot $shot"
}

# wait_for DESCRIPTION TIMEOUT_S COMMAND...: polls the command until it succeeds,
# every $poll seconds (0.1 unless set for the call).
wait_for()
{
    local what="$1" timeout="$2"
    shift 2
    local end=$(( $(now_ms) + timeout * 1000 ))

    until "$@"; do
        (( $(now_ms) < end )) || fail "timed out after ${timeout} s waiting for $what"
        sleep "${poll:-0.1}"
    done
}

program_running() { kill -0 "$pid" 2>/dev/null; }

# Number of messages the virtual pedal has received so far, from the capture
# checker ($checker, $capture, $image). The checker reads the whole capture and
# image, so long waits ask it only once a second: polling faster costs the
# machine CPU that the upload's pacing feels.
received()
{
    [[ -s "$capture" ]] || { echo 0; return; }
    { "$checker" "$capture" "$image" 2>/dev/null || true; } \
        | sed -n 's/^capture: .*, \([0-9][0-9]*\) events$/\1/p' | head -n 1
}

geometry_of()
{
    eval "$(xdotool getwindowgeometry --shell "$1")"
    echo "$X $Y $WIDTH $HEIGHT"
}

# The main window, found by its title; a program that ends first fails the run
# at once, with its output and the hint in windowHint.
window_or_exit()
{
    wid="$(xdotool search --name "^${title}\$" 2>/dev/null | head -n 1)"
    [[ -n "$wid" ]] && return 0
    program_running && return 1
    cat "$log" >&2
    fail "the program ended before showing its window${windowHint:+ ($windowHint)}"
}

# wait_for_main_window TIMEOUT_S: waits for the main window, reads where it is
# and checks its size.
wait_for_main_window()
{
    local panel size
    title="$(expected mainWindow.title)"
    panel="$(expected mainWindow.panelBoundsInWindow)"
    size="$(expected mainWindow.size)"
    size="${size/ /x}"
    read -r frameLeft frameTop _ <<<"$panel"

    wait_for "the window \"$title\"" "$1" window_or_exit
    sleep 1
    read -r winX winY winW winH < <(geometry_of "$wid")
    say "window \"$title\" ($wid) at $winX,$winY size ${winW}x${winH}"
    [[ "${winW}x${winH}" == "$size" ]] || fail "the window is ${winW}x${winH}, not $size"
}

# The pointer rests where it clicks for pointerRest seconds first, as a
# person's does: a popup list that has not yet seen the pointer arrive takes
# no click, and a slow machine (the emulated one of the real-kernel bench) sees
# it arrive late.
pointerRest="${pointerRest:-0.3}"

click_at()
{
    xdotool mousemove --sync "$1" "$2"
    sleep "$pointerRest"
    xdotool click 1
}

# click_panel AREA: clicks the middle of an area of the panel, named as in
# expected.json's panelLayout.
click_panel()
{
    local area x y w h
    area="$(expected "panelLayout.$1")"
    read -r x y w h <<<"$area"
    click_at $(( winX + frameLeft + x + w / 2 )) $(( winY + frameTop + y + h / 2 ))
}

# point_at_close X Y W: rests the pointer on the close button at the right end
# of the title bar of the window at X, Y and W wide.
point_at_close()
{
    local point right down
    point="$(expected titleBar.closeButtonFromTopRight)"
    read -r right down <<<"$point"
    xdotool mousemove --sync $(( $1 + $3 - right )) $(( $2 + down ))
    sleep "$pointerRest"
}

# STEP2: clicks the update button, then moves the pointer off the window, so
# that no button is drawn as hovered.
press_update()
{
    click_panel updateButton
    xdotool mousemove --sync 5 5
}

# close_and_wait: clicks the main window's close button and waits for the
# program to end (20 s at most). Sets closeMs, the time from the click to the
# end, and status, the program's exit status.
close_and_wait()
{
    local clicked
    point_at_close "$winX" "$winY" "$winW"
    clicked=$(now_ms)
    xdotool click 1

    while program_running; do
        (( $(now_ms) - clicked < 20000 )) || fail "the program did not end within 20 s of the close click"
        sleep 0.01
    done
    closeMs=$(( $(now_ms) - clicked ))
    wait "$pid" && status=0 || status=$?
}

# program_ended_well: after close_and_wait, whether the program ended with
# status 0. Under Wine (its log then holds Wine's exceptions and thread names,
# WINEDEBUG=-all,+seh,+thread), one more end is excused: Wine 8.0's ALSA MIDI
# driver can fault at process exit, once a MIDI device has been used. Its
# notify thread returns into the driver while the driver is being unloaded,
# and the process ends on SIGSEGV. Any other fault, or another status, fails.
program_ended_well()
{
    (( status == 0 )) && return 0

    local notifyThread faults
    notifyThread="$(sed -n 's/^\([0-9a-f]*\):trace:thread:SetThreadDescription .*L"winealsa_midi_notify".*/\1/p' "$log" | head -n 1)"
    faults="$(grep -E '^[0-9a-f]+:trace:seh:[a-z_]+ code=c' "$log" || true)"

    if (( status == 139 )) && [[ -n "$notifyThread" && -n "$faults" ]] && ! grep -qv "^${notifyThread}:" <<<"$faults"; then
        echo "the process ended on the known fault of Wine's MIDI driver at exit (thread winealsa_midi_notify)"
        return 0
    fi
    echo "the program ended with status $status"
    echo "$faults"
    return 1
}

# Opens the output selector and waits for its list; sets menu, the list's
# window, and menuX, menuY, menuW and menuH.
#
# On a slow machine (the emulated one of the real-kernel bench) the list can
# open while the framework still sees the button down, take the release for a
# choice and close again at once, choosing nothing: a person clicks again, and
# so does this, three clicks at most, each miss shown in a screenshot.
open_selector()
{
    local attempt i
    menu=""
    menu_shown() { menu="$(xdotool search --onlyvisible --name '^menu$' 2>/dev/null | head -n 1)"; [[ -n "$menu" ]]; }

    for attempt in 1 2 3; do
        click_panel selector
        for (( i = 0; i < 50; ++i )); do
            menu_shown && break
            sleep 0.2
        done
        [[ -z "$menu" ]] || break
        screenshot selector-closed
        say "the selector's list did not open on click $attempt"
    done
    [[ -n "$menu" ]] || fail "the selector's list did not open on three clicks"
    sleep 0.5
    screenshot selector-open

    read -r menuX menuY menuW menuH < <(geometry_of "$menu")
    say "selector list at $menuX,$menuY size ${menuW}x${menuH}"
}

# STEP1: picks the last item of the selector's list, the pedal (below
# "(Disconnected)" and a separator).
choose_last_output()
{
    local above
    above="$(expected selectorList.lastItemAboveBottom)"
    open_selector
    click_at $(( menuX + menuW / 2 )) $(( menuY + menuH - above ))
}

# STEP1: picks the item that reads NAME in the selector's list, wherever it is,
# as read off the screenshot of the open list.
choose_output_named()
{
    local name="$1" middle
    open_selector
    middle="$("$screensChecker" "$menuX" "$menuY" --row-of "$name" "$menuW" "$menuH" "$shot")" \
        || fail "the selector's list has no one row \"$name\" ($shot)"
    say "\"$name\" is the row $middle px below the list's top"

    # A click the list takes closes it; one it missed (see open_selector) is
    # made again.
    local attempt i
    for attempt in 1 2 3; do
        click_at $(( menuX + menuW / 2 )) $(( menuY + middle ))
        for (( i = 0; i < 25; ++i )); do
            menu_shown || return 0
            sleep 0.2
        done
        say "the selector's list did not take click $attempt on \"$name\""
    done
    fail "the selector's list did not take three clicks on \"$name\""
}
