#!/usr/bin/env bash
# Uses the Windows program under Wine the way a person does, with real mouse
# clicks on its own X display, over the stand-in MIDI service with one port,
# "Virtual Pedal" (Wine's MIDI driver goes through the ALSA sequencer, which the
# stand-in replaces when preloaded): checks the window's title and size,
# chooses the pedal under STEP1, presses update, waits for the whole image,
# closes the program with its close button and checks what the virtual pedal
# received: every message, byte for byte, in order, never closer than 15 ms.
# Then the same with a driver that gets stuck (scripts/wine-stuck-driver.sh).
#
#   scripts/test-windows.sh
#
# Run scripts/build-windows.sh first. Everything the run makes stays under
# build/windows: the Wine prefix (wine-prefix/, made once with wineboot), and in
# wine-run/ the screenshots, the program's log and the capture.
#
# Debian's Wine 8.0 has no vertical blank (DXGI's WaitForVBlank is a stub), and
# JUCE on Windows repaints on vertical blanks, so under Wine the window keeps its
# first picture: clicks, MIDI and the upload work, but the screenshots cannot
# show the selection or the progress. What the pedal received is the evidence.
# Wine 8.0's MIDI driver may also fault as the process exits after a device was
# used; that fault alone is told apart and excused (see the close below).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/windows"
host="$build/host"
program="$build/QuilletLooperSwUpdater_artefacts/Release/QuilletLooperSwUpdater.exe"
image="$build/firmware/development-image.syx"
run="$build/wine-run"

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

export WINEPREFIX="$build/wine-prefix"
export WINEDEBUG=-all
# No Mono or Gecko: the program needs neither, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="

title="Quillet Q7 version 1.3.00 Build 89"

# JUCE's own title bar (26 px) inside its 4 px resizable border: the panel's
# (0, 0) lies 4 px right of and 30 px below the window's corner.
frameLeft=4
frameTop=30

#==============================================================================
say()       { echo "test-windows: $*"; }
fail()      { say "FAILED: $*" >&2; exit 1; }

shots="$run"
source "$root/scripts/desktop-session.sh"

"$root/scripts/require-packages.sh" "The Windows program's test under Wine" \
    wine64 xvfb xdotool imagemagick

[[ -x "$wine" ]] || fail "$wine is missing although wine64 is installed"
[[ -f "$program" && -f "$image" ]] || fail "no Windows program in $build: run scripts/build-windows.sh first"

# The stand-in MIDI service and the capture checker, built for this machine.
cmake -S "$root" -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=OFF >/dev/null
cmake --build "$host" --target virtual-midi quillet-capture-check -j 2 >/dev/null
preload="$host/tools/virtual-midi/libvirtual-midi.so"
checker="$host/tools/capture-check/quillet-capture-check"

rm -rf "$run"
mkdir -p "$run"
capture="$run/virtual-pedal.capture"
log="$run/program.log"

#==============================================================================
# An X display of its own.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$run/display" >"$run/xvfb.log" 2>&1 &
xvfbPid=$!

pid=""
cleanup()
{
    [[ -n "$pid" ]] && kill "$pid" 2>/dev/null
    "$wineserver" -k 2>/dev/null || true
    kill "$xvfbPid" 2>/dev/null || true
}
trap cleanup EXIT

# Xvfb writes the number of the free display it took once it is ready.
for (( i = 0; i < 200; ++i )); do
    grep -q '^[0-9][0-9]*$' "$run/display" 2>/dev/null && break
    kill -0 "$xvfbPid" 2>/dev/null || fail "Xvfb did not start (see $run/xvfb.log)"
    sleep 0.1
done
grep -q '^[0-9][0-9]*$' "$run/display" || fail "Xvfb did not report its display"
export DISPLAY=":$(cat "$run/display")"

# The prefix is made once. Windows are left unmanaged: Xvfb has no window
# manager, and Wine would wait for one on every window it hides.
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    say "making the Wine prefix $WINEPREFIX"
    started=$(now_ms)
    "$wine" wineboot --init >"$run/wineboot.log" 2>&1 </dev/null
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$run/wineboot.log" 2>&1 </dev/null
    "$wineserver" -w
    say "Wine prefix ready in $(( $(now_ms) - started )) ms"
fi

# Wine's own processes start first, without the stand-in: only the program
# loads it, so no other process opens (and empties) the capture file.
"$wineserver" -p
"$wine" wineboot >>"$run/wineboot.log" 2>&1 </dev/null
"$wine" explorer /desktop >>"$run/wineboot.log" 2>&1 </dev/null &

# The desktop process of this prefix, once it runs.
desktop_running()
{
    local p
    for p in $(pgrep -f '^C:\\windows\\system32\\explorer.exe /desktop'); do
        tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
    done
    return 1
}

for (( i = 0; i < 300; ++i )); do
    desktop_running && break
    sleep 0.1
done
desktop_running || fail "Wine's desktop process did not start"
sleep 1

#==============================================================================
# The capture's size in bytes. Watching it costs next to nothing, so the
# watcher takes no processor time from the upload it watches.
capture_size()      { stat -c %s "$capture" 2>/dev/null || echo 0; }

wid=""
window_or_exit()
{
    wid="$(xdotool search --name "^${title}\$" 2>/dev/null | head -n 1)"
    [[ -n "$wid" ]] && return 0
    program_running && return 1
    cat "$log" >&2
    fail "the program ended before showing its window"
}


#==============================================================================
say "starting $program under $("$wine" --version)"
# The log keeps Wine's exceptions and thread names: enough to tell a crash of
# the program from the one of Wine's MIDI driver at exit (below).
LD_PRELOAD="$preload" \
VIRTUAL_MIDI_PORTS="Virtual Pedal" \
VIRTUAL_MIDI_CAPTURE="$capture" \
WINEDEBUG="-all,+seh,+thread" \
    "$wine" "$program" >"$log" 2>&1 </dev/null &
pid=$!

wait_for "the window \"$title\"" 60 window_or_exit
sleep 1

read -r winX winY winW winH < <(geometry_of "$wid")
say "window \"$title\" at $winX,$winY size ${winW}x${winH}"
[[ "${winW}x${winH}" == "650x400" ]] || fail "the window is ${winW}x${winH}, not 650x400"
screenshot 01-start

# STEP1: Wine's "Virtual Pedal - Virtual Pedal", the last item of the list.
choose_last_output
sleep 1

# STEP2: the update button (panel 538,215, 94 x 30).
emptySize=$(capture_size)
uploadStart=$(now_ms)
click_panel 585 230
capture_grew() { (( $(capture_size) > emptySize )); }
wait_for "the first message" 15 capture_grew

# Messages follow each other every 15 ms or so: once the capture has not grown
# for 3 s the upload is over, whole or not (the checker tells which).
lastSize=-1
lastGrowth=$(now_ms)
while (( $(now_ms) - lastGrowth < 3000 )); do
    (( $(now_ms) - uploadStart < 300000 )) || fail "the upload still runs 300 s after the update click"
    size=$(capture_size)
    if (( size != lastSize )); then
        lastSize=$size
        lastGrowth=$(now_ms)
    fi
    sleep 0.5
done
say "the capture stopped growing $(( lastGrowth - uploadStart )) ms after the update click, at $lastSize bytes"

# The close button sits at the right end of the title bar.
closeClick=$(now_ms)
click_at $(( winX + winW - 20 )) $(( winY + 17 ))

while program_running; do
    (( $(now_ms) - closeClick < 20000 )) || fail "the program did not end within 20 s of the close click"
    sleep 0.05
done
wait "$pid" && status=0 || status=$?
pid=""
say "close click to process exit: $(( $(now_ms) - closeClick )) ms (exit status $status)"

# Wine 8.0's ALSA MIDI driver can fault at process exit, once a MIDI device has
# been used: its notify thread returns into the driver while the driver is
# being unloaded, and the process ends on SIGSEGV. That fault alone is
# excused; any other fault, or another status, fails.
if (( status != 0 )); then
    notifyThread="$(sed -n 's/^\([0-9a-f]*\):trace:thread:SetThreadDescription .*L"winealsa_midi_notify".*/\1/p' "$log" | head -n 1)"
    faults="$(grep -E '^[0-9a-f]+:trace:seh:[a-z_]+ code=c' "$log" || true)"

    if (( status == 139 )) && [[ -n "$notifyThread" && -n "$faults" ]] && ! grep -qv "^${notifyThread}:" <<<"$faults"; then
        say "the process ended on the known fault of Wine's MIDI driver at exit (thread winealsa_midi_notify)"
    else
        [[ -n "$faults" ]] && echo "$faults" >&2
        fail "the program ended with status $status"
    fi
fi

# The stand-in stamps a message when Wine's MIDI driver hands it to the
# sequencer, at the end of Wine's own path from the program's send (winmm, the
# driver, the switch to Unix code). The program counts the interval after a
# short send from the moment the send returned, so the 15 ms floor holds there
# too.
say "checking what the virtual pedal received"
"$checker" "$capture" "$image"

source "$root/scripts/wine-stuck-driver.sh"
