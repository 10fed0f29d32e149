#!/usr/bin/env bash
# Uses the built updater the way a person does, with real mouse clicks on the
# running X display, over the stand-in MIDI service with one USB pedal, "Virtual
# Pedal" (a raw MIDI device behind its port, draining 1 MB/s): chooses the
# pedal under STEP1, presses update, waits for the end of the upload, opens the
# help window, closes the program with its close button and checks what the
# virtual pedal received against the image. Screenshots are taken before,
# during and after the upload and of the help window;
# tests/windows/check_screens.py reads from them the bar's fill, the status
# line and the button colours.
#
#   scripts/run-as-user.sh [--close-during-upload | --unplug MESSAGES[:BACK_AFTER_MS]]
#                          [--program PROGRAM] BUILD_DIR SCREENSHOT_DIR
#
# BUILD_DIR holds the stand-in MIDI service, the capture checker and the image;
# the program is the one built there unless --program names another (the
# installed one, say). With --close-during-upload the window is closed while the
# upload runs instead, and the time from the close click to the end of the
# process is measured (the close waits for the upload thread for at most 5000 ms).
#
# With --unplug the pedal goes once it has received MESSAGES messages: the
# panel must say so with that count, update turn red and the bar stay where it
# stopped, and the pedal must have the image's first MESSAGES messages and no
# more. With BACK_AFTER_MS it comes back that many milliseconds later, at the
# address it had; the person then chooses it again and presses update, and the
# second upload is checked as a whole one is.
#
# Needs DISPLAY (for example under xvfb-run), xdotool, ImageMagick and tesseract.
set -euo pipefail

usage()
{
    echo "usage: $0 [--close-during-upload | --unplug MESSAGES[:BACK_AFTER_MS]] [--program PROGRAM] BUILD_DIR SCREENSHOT_DIR" >&2
    exit 2
}

closeDuringUpload=false
unplugAfter=""
backAfterMs=""
program=""

while [[ "${1:-}" == --* ]]; do
    case "$1" in
        --close-during-upload) closeDuringUpload=true; shift ;;
        --unplug)
            [[ "${2:-}" =~ ^([1-9][0-9]*)(:([0-9]+))?$ ]] || usage
            unplugAfter="${BASH_REMATCH[1]}"
            backAfterMs="${BASH_REMATCH[3]}"
            shift 2 ;;
        --program) [[ $# -ge 2 ]] || usage; program="$2"; shift 2 ;;
        *) usage ;;
    esac
done

[[ $# -eq 2 && -d "$1" ]] || usage
if $closeDuringUpload && [[ -n "$unplugAfter" ]]; then usage; fi

build="$(cd "$1" && pwd)"
shots="$2"

# The built program lies at BUILD_DIR/QuilletLooperSwUpdater_artefacts/<config>/.
if [[ -z "$program" ]]; then
    program="$(find "$build/QuilletLooperSwUpdater_artefacts" -maxdepth 2 -type f -name QuilletLooperSwUpdater -perm -u+x | head -n 1)"
fi

[[ -n "$program" && -x "$program" ]] || { echo "no updater program found${program:+ at $program}" >&2; exit 2; }
[[ -n "${DISPLAY:-}" ]] || { echo "DISPLAY is not set: run this on an X display (for example under xvfb-run)" >&2; exit 2; }

preload="$build/tools/virtual-midi/libvirtual-midi.so"
checker="$build/tools/capture-check/quillet-capture-check"
image="$build/firmware/development-image.syx"

for f in "$preload" "$checker" "$image"; do
    [[ -e "$f" ]] || { echo "missing $f: build the targets virtual-midi and quillet-capture-check" >&2; exit 2; }
done

mkdir -p "$shots"
shots="$(cd "$shots" && pwd)"
capture="$shots/virtual-pedal.capture"
log="$shots/updater.log"
rm -f "$shots"/*.capture "$shots"/*.png "$shots"/core*

imageMessages=3065

#==============================================================================
say()       { echo "run-as-user: $*"; }
fail()
{
    say "FAILED: $*" >&2

    # A program that is still running but stuck: show where every thread waits.
    # One that crashed left a core in its working folder: show where it was.
    if command -v gdb >/dev/null; then
        if [[ -n "${pid:-}" ]] && kill -0 "$pid" 2>/dev/null; then
            say "threads of the program at the failure:" >&2
            timeout 60 gdb -p "$pid" -batch -ex "thread apply all bt" 2>&1 | grep -v "^\[New LWP" >&2 || true
        elif core="$(ls -t "$shots"/core* 2>/dev/null | head -n 1)" && [[ -n "$core" ]]; then
            say "threads of the program when it crashed ($core):" >&2
            timeout 60 gdb -batch -ex "thread apply all bt" "$program" "$core" 2>&1 | grep -v "^\[New LWP" >&2 || true
        fi
    fi

    exit 1
}

source "$(dirname "${BASH_SOURCE[0]}")/desktop-session.sh"

# Fails at once if the program ends before that many messages of this upload
# went out (uploadBase: the messages of the uploads before it).
uploadBase=0

received_at_least()
{
    (( $(received) - uploadBase >= $1 )) && return 0
    program_running && return 1

    local status=0
    wait "$pid" || status=$?
    (( status > 128 )) && fail "the program ended during the upload, killed by signal $(kill -l $(( status - 128 ))) after $(received) messages"
    fail "the program ended during the upload with status $status after $(received) messages"
}

#==============================================================================
# A crash leaves its core in the screenshot folder, the program's working
# folder, where the failure report finds it (if the system writes cores there).
ulimit -c unlimited 2>/dev/null || true

say "starting $program"
(
    cd "$shots"
    [[ -z "$unplugAfter" ]] || export VIRTUAL_MIDI_UNPLUG="Virtual Pedal:$unplugAfter${backAfterMs:+:$backAfterMs}"
    LD_PRELOAD="$preload" \
    VIRTUAL_MIDI_PORTS="Virtual Pedal" \
    VIRTUAL_MIDI_RAWMIDI="Virtual Pedal:1000000" \
    VIRTUAL_MIDI_CAPTURE="$capture" \
        exec "$program" >"$log" 2>&1
) &
pid=$!
trap 'if kill -0 $pid 2>/dev/null; then kill $pid; fi' EXIT

windowHint="is another instance running? it holds the single-instance lock in /var/tmp"
wait_for_main_window 20
xwininfo -id "$wid" | grep -E "Width|Height" | sed 's/^ */run-as-user: xwininfo /'

screenshot start

# STEP1: "Virtual Pedal", the last item of the selector's list.
choose_last_output
sleep 0.5
screenshot ready

uploadStart=$(now_ms)
press_update
wait_for "the first messages" 10 received_at_least 1

if $closeDuringUpload; then
    poll=1 wait_for "a quarter of the image" 60 received_at_least $(( imageMessages / 4 ))
    screenshot uploading

    before=$(received)
    close_and_wait
    trap - EXIT

    after=$(received)
    say "closed during the upload: $before messages before the close click, $after in all"
    say "close click to process exit: $closeMs ms (exit status $status)"
    (( after < imageMessages )) || fail "the whole image went out although the window was closed during the upload"
    (( status == 0 )) || fail "the program ended with status $status"
    exit 0
fi

if [[ -n "$unplugAfter" ]]; then
    poll=1 wait_for "the pedal to go after $unplugAfter messages" 120 received_at_least "$unplugAfter"
    screenshot_showing disconnected --disconnected "$unplugAfter"
    check_screens --disconnected "$unplugAfter" "$shot" || fail "the panel does not show the upload stopped by the pedal's going"

    if [[ -n "$backAfterMs" ]]; then
        # The pedal went before the panel said so: it is back once its time
        # has passed from here, and the person chooses it again.
        sleep "$(( backAfterMs / 1000 )).$(printf %03d $(( backAfterMs % 1000 )))"
        choose_last_output
        sleep 0.5
        screenshot ready-again

        firstUploadBytes=$(stat -c %s "$capture")
        uploadBase=$(received)
        uploadStart=$(now_ms)
        press_update
        wait_for "the first messages of the second upload" 10 received_at_least 1
    fi
fi

if [[ -z "$unplugAfter" || -n "$backAfterMs" ]]; then
    poll=1 wait_for "a third of the image" 120 received_at_least $(( imageMessages / 3 ))
    screenshot uploading
    uploading1="$shot"
    poll=1 wait_for "two thirds of the image" 120 received_at_least $(( imageMessages * 2 / 3 ))
    screenshot uploading
    uploading2="$shot"

    poll=1 wait_for "the whole image" 120 received_at_least $imageMessages
    say "the whole image went out in $(( $(now_ms) - uploadStart )) ms"
    # The final status appears once the last message's interval has passed.
    screenshot_showing finished --finished
    check_screens "$uploading1" "$uploading2" "$shot" || fail "the screenshots do not show the upload as they should"
fi

# Help shows the help window, centred on the display, where it covers the Help
# button; its own close button only hides it, and Help shows the same window
# again.
help=""
helpTitle="$(expected helpWindow.title)"
helpSize="$(expected helpWindow.size)"
helpSize="${helpSize/ /x}"
help_shown()  { help="$(xdotool search --onlyvisible --name "^$helpTitle\$" 2>/dev/null | head -n 1)"; [[ -n "$help" ]]; }
help_hidden() { ! xdotool search --onlyvisible --name "^$helpTitle\$" >/dev/null 2>&1; }

for round in 1 2; do
    click_panel helpButton
    wait_for "the help window" 5 help_shown
    sleep 0.5
    read -r helpX helpY helpW helpH < <(geometry_of "$help")
    say "help window $help at $helpX,$helpY size ${helpW}x${helpH}"
    [[ "${helpW}x${helpH}" == "$helpSize" ]] || fail "the help window is ${helpW}x${helpH}, not $helpSize"
    [[ $round -eq 1 ]] && screenshot help

    # Its close button is the rightmost of the three in its title bar.
    point_at_close "$helpX" "$helpY" "$helpW"
    xdotool click 1
    wait_for "the help window to hide" 5 help_hidden
done

close_and_wait
say "close click to process exit: $closeMs ms"
trap - EXIT
(( status == 0 )) || fail "the program ended with status $status"

# stopped_after CAPTURE MESSAGES: the capture holds the image's first MESSAGES
# messages, unchanged, in order and paced, and nothing more.
stopped_after()
{
    local report
    report="$("$checker" "$1" "$image" || true)"
    echo "$report"
    grep -qxF "content: MISMATCH at message $2 (0-based): $(( imageMessages - $2 )) messages missing, from message $2 on" <<<"$report" \
        && grep -qxF "gaps below 15.000 ms: none" <<<"$report" \
        && say "as it should: the image's first $2 messages, paced, and no more"
}

say "checking what the virtual pedal received"
if [[ -z "$unplugAfter" ]]; then
    "$checker" "$capture" "$image"
elif [[ -z "$backAfterMs" ]]; then
    stopped_after "$capture" "$unplugAfter" || fail "the pedal did not receive exactly the image's first $unplugAfter messages"
else
    # Each upload's records, the second behind the file's 16-byte header
    # (tools/virtual-midi/CaptureFormat.h).
    head -c "$firstUploadBytes" "$capture" > "$shots/first-upload.capture"
    { head -c 16 "$capture"; tail -c +$(( firstUploadBytes + 1 )) "$capture"; } > "$shots/second-upload.capture"

    stopped_after "$shots/first-upload.capture" "$unplugAfter" || fail "the first upload did not give the pedal exactly the image's first $unplugAfter messages"
    "$checker" "$shots/second-upload.capture" "$image"
fi
