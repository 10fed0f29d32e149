#!/usr/bin/env bash
# Installs the Windows program under Wine with its installer, uses the installed
# program as a person does and uninstalls it again, checking each step:
#
#   - SHA256SUMS matches the packages, and the portable zip holds the program,
#     its licence, the third-party notices and its read-me;
#   - the silent install (/S) puts the program, its licence, the third-party
#     notices and the uninstaller into
#     C:\Program Files\Zentrik\QuilletLooperSwUpdater, a shortcut into the
#     Start menu and the entry into the list of installed programs;
#   - the installed program, started from there over the stand-in MIDI service
#     with one port, "Virtual Pedal" (Wine's MIDI driver goes through the ALSA
#     sequencer, which the stand-in replaces when preloaded), is used with real
#     clicks on its own X display: the window's title and size, the pedal chosen
#     under STEP1, update pressed. Screenshots during the upload and at its end
#     show what the user sees (tests/windows/check_screens.py reads them: the
#     bar's fill growing, the status line, the button colours), and the capture
#     checker verifies what the virtual pedal received: every message, byte for
#     byte, in order, never closer than 15 ms;
#   - the installed program again over a port that gets stuck, as a wedged
#     driver does (scripts/wine-stuck-driver.sh): the send gives up after its
#     bound, the window answers, and the close ends the process within 1 s;
#   - the silent uninstall, run as the entry's QuietUninstallString says,
#     leaves no file, shortcut or registry key behind.
#
#   scripts/test-windows.sh
#
# Run scripts/package.sh first: it builds the program and the installer.
# Everything the run makes stays under build/windows: the Wine prefix
# (wine-prefix/, made once with wineboot), and in wine-run/ the screenshots,
# the logs and the capture.
#
# Wine 8.0's MIDI driver may fault as the process exits after a device was used;
# that fault alone is told apart and excused (see the close below).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/windows"
host="$build/host"
program="$build/QuilletLooperSwUpdater_artefacts/Release/QuilletLooperSwUpdater.exe"
image="$build/firmware/development-image.syx"
run="$build/wine-run"

export WINEPREFIX="$build/wine-prefix"
export WINEDEBUG=-all

imageMessages=3065

# Where the installer puts things, as Windows names them and as seen from here.
drive="$WINEPREFIX/drive_c"
installDir='C:\Program Files\Zentrik\QuilletLooperSwUpdater'
installedProgram="$installDir\\QuilletLooperSwUpdater.exe"
unixInstallDir="$drive/Program Files/Zentrik/QuilletLooperSwUpdater"
unixMakerDir="$drive/Program Files/Zentrik"
uninstallKey='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\QuilletLooperSwUpdater'

#==============================================================================
say()       { echo "test-windows: $*"; }
fail()      { say "FAILED: $*" >&2; exit 1; }

shots="$run"
source "$root/scripts/desktop-session.sh"
export WINEDLLOVERRIDES="$wineDllOverrides"

"$root/scripts/require-packages.sh" "The Windows program's test under Wine" \
    wine64 xvfb xdotool imagemagick binutils unzip python3 tesseract-ocr tesseract-ocr-eng

[[ -x "$wine" ]] || fail "$wine is missing although wine64 is installed"

# The name of the Start-menu entry and of the entry in the list of installed programs.
displayName="$(expected installer.displayName)"
shortcut="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/$displayName.lnk"

packages="$root/build/packages"
installers=("$packages"/QuilletLooperSwUpdater-*-win64-setup.exe)
installer="${installers[0]}"
[[ -f "$installer" && -f "$program" && -f "$image" ]] || fail "no installer in build/packages: run scripts/package.sh first"
portable="${installer%-setup.exe}"
portableName="$(basename "$portable")"

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
pid=""
cleanup()
{
    [[ -n "$pid" ]] && kill "$pid" 2>/dev/null
    "$wineserver" -k 2>/dev/null || true
    kill "$xvfbPid" 2>/dev/null || true
}
trap cleanup EXIT

start_xvfb "$run"

# The prefix is made once.
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    say "making the Wine prefix $WINEPREFIX"
    started=$(now_ms)
    make_wine_prefix >"$run/wineboot.log" 2>&1
    say "Wine prefix ready in $(( $(now_ms) - started )) ms"
fi

# A run that failed half-way may have left its installation behind.
if [[ -e "$unixInstallDir/uninstall.exe" ]]; then
    say "uninstalling what an earlier run left"
    "$wine" "$unixInstallDir/uninstall.exe" /S </dev/null >/dev/null 2>&1 || true
    "$wineserver" -w
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
wait_for "Wine's desktop process" 30 desktop_running
sleep 1

# reg_value NAME: a value of the program's entry in the list of installed
# programs, as `reg query` shows it (a DWORD in hexadecimal).
reg_value()
{
    "$wine" reg query "$uninstallKey" /v "$1" 2>/dev/null </dev/null | tr -d '\r' \
        | sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}
no_uninstall_key() { ! "$wine" reg query "$uninstallKey" >/dev/null 2>&1 </dev/null; }

#==============================================================================
check "SHA256SUMS matches the packages" bash -c "cd '$packages' && sha256sum --check --strict SHA256SUMS"
check "the zip holds the program, its licence, the third-party notices and its read-me" \
    test "$(unzip -Z1 "$portable.zip" | sort | tr '\n' ' ')" \
        = "$portableName/ $portableName/LICENSE.txt $portableName/QuilletLooperSwUpdater.exe $portableName/README.txt $portableName/THIRD-PARTY-NOTICES.txt "
check "the zip's program is the one built" cmp "$program" <(unzip -p "$portable.zip" "$portableName/QuilletLooperSwUpdater.exe")

say "installing $(basename "$installer") ($(stat -c %s "$installer") bytes) under $("$wine" --version)"
started=$(now_ms)
"$wine" "$installer" /S >"$run/install.log" 2>&1 </dev/null || fail "the installer ended with status $?"
say "silent install took $(( $(now_ms) - started )) ms"

installedFiles="$(cd "$unixInstallDir" 2>/dev/null && find . -type f | sort | tr '\n' ' ')"
# The entry counts the installed files' bytes in whole KiB.
installedKiB=$(( $(cat "$unixInstallDir"/* 2>/dev/null | wc -c) / 1024 ))
version="$(basename "$installer" | sed 's/^QuilletLooperSwUpdater-\(.*\)-win64-setup.exe$/\1/')"

check "the installed files are the program, its licence, the third-party notices and the uninstaller" \
    test "$installedFiles" = "./LICENSE.txt ./QuilletLooperSwUpdater.exe ./THIRD-PARTY-NOTICES.txt ./uninstall.exe "
check "the installed program is the one built" cmp "$program" "$unixInstallDir/QuilletLooperSwUpdater.exe"
check "the Start-menu shortcut starts the installed program" \
    grep -qiF "$installedProgram" <<<"$(strings -a "$shortcut"; strings -a -el "$shortcut")"
check "the entry's DisplayName" test "$(reg_value DisplayName)" = "$displayName"
check "the entry's DisplayVersion" test "$(reg_value DisplayVersion)" = "$version"
check "the entry's Publisher" test "$(reg_value Publisher)" = "Zentrik"
check "the entry's DisplayIcon" test "$(reg_value DisplayIcon)" = "$installedProgram,0"
check "the entry's InstallLocation" test "$(reg_value InstallLocation)" = "$installDir"
check "the entry's UninstallString" test "$(reg_value UninstallString)" = "\"$installDir\\uninstall.exe\""
check "the entry's QuietUninstallString" test "$(reg_value QuietUninstallString)" = "\"$installDir\\uninstall.exe\" /S"
check "the entry's EstimatedSize is the installed KiB ($installedKiB)" \
    test "$(( $(reg_value EstimatedSize) ))" -eq "$installedKiB"
check "the entry offers no change or repair" test "$(reg_value NoModify) $(reg_value NoRepair)" = "0x1 0x1"

#==============================================================================
# The capture's size in bytes. Watching it costs next to nothing, so the
# watcher takes no processor time from the upload it watches.
capture_size()  { stat -c %s "$capture" 2>/dev/null || echo 0; }
imageBytes=$(stat -c %s "$image")

# start_program [VARIABLE=VALUE...]: starts the installed program over the
# stand-in with one port, "Virtual Pedal", capturing into $capture, with any
# further settings of the stand-in, and waits for its window. The log keeps
# Wine's exceptions and thread names: enough to tell a crash of the program
# from the one of Wine's MIDI driver at exit (below).
start_program()
{
    say "starting $installedProgram${1:+ with $*}"
    env "$@" LD_PRELOAD="$preload" VIRTUAL_MIDI_PORTS="Virtual Pedal" VIRTUAL_MIDI_CAPTURE="$capture" \
        WINEDEBUG="-all,+seh,+thread" "$wine" "$installedProgram" >"$log" 2>&1 </dev/null &
    pid=$!
    wait_for_main_window 60
}

start_program
screenshot start

# STEP1: Wine's "Virtual Pedal - Virtual Pedal", the last item of the list.
choose_last_output
sleep 1
screenshot ready

emptySize=$(capture_size)
uploadStart=$(now_ms)
press_update

# capture_reached FRACTION_PERCENT: the capture holds at least that share of the image's bytes.
capture_reached() { (( $(capture_size) - emptySize >= imageBytes * $1 / 100 )); }
capture_grew()    { (( $(capture_size) > emptySize )); }
wait_for "the first message" 60 capture_grew
poll=0.5 wait_for "a third of the image" 300 capture_reached 33
screenshot uploading
uploading1="$shot"
poll=0.5 wait_for "two thirds of the image" 300 capture_reached 67
screenshot uploading
uploading2="$shot"

# The upload is over once the virtual pedal has every message, or the program
# has ended. Under Wine on a busy machine it can stall for seconds, so the
# checker counts the messages whenever the capture has not grown since the last
# look; the time limit is only a safety net.
lastSize=-1
upload_over()
{
    local size
    size=$(capture_size)
    (( size != lastSize )) && { lastSize=$size; return 1; }
    ! program_running || (( $(received) >= imageMessages ))
}
poll=1 wait_for "the end of the upload" 900 upload_over
say "the upload ended $(( $(now_ms) - uploadStart )) ms after the update click, with $(received) messages"

# The final picture: the status line and the button change once the last
# message's interval has passed, and the next repaint shows them.
screenshot_showing finished --finished

check --show "the screenshots show the bar moving, the final status and the button colours" \
    check_screens "$uploading1" "$uploading2" "$shot"

close_and_wait
pid=""
say "close click to process exit: $closeMs ms (exit status $status)"

check --show "the program ended well" program_ended_well

# The stand-in stamps a message when Wine's MIDI driver hands it to the
# sequencer, at the end of Wine's own path from the program's send (winmm, the
# driver, the switch to Unix code). The program counts the interval after a
# short send from the moment the send returned, so the 15 ms floor holds there
# too.
check --show "the virtual pedal received the whole image, unchanged and paced" "$checker" "$capture" "$image"

# The installed program again, over a driver that gets stuck.
source "$root/scripts/wine-stuck-driver.sh"

#==============================================================================
# The uninstaller copies itself to the temporary folder and goes on from there,
# so its end is the end of every process in the prefix: the desktop goes first.
quiet="$(reg_value QuietUninstallString)"
[[ "$quiet" =~ ^\"([^\"]+)\"\ (.*)$ ]] || fail "the QuietUninstallString $quiet is not a quoted program and its arguments"
"$wineserver" -k
started=$(now_ms)
"$wine" "${BASH_REMATCH[1]}" ${BASH_REMATCH[2]} >"$run/uninstall.log" 2>&1 </dev/null || fail "the uninstaller ended with status $?"
"$wineserver" -w
say "silent uninstall took $(( $(now_ms) - started )) ms, until Wine's last process ended"

# Wine writes the registry to its files once its server has ended.
leftover_files()    { find "$drive" \( -iname '*quillet*' -o -iname '*zentrik*' \) -print; }
leftover_registry() { grep -il 'quillet\|zentrik' "$WINEPREFIX"/*.reg || true; }

check "the installation folder is gone" test ! -e "$unixInstallDir"
check "the maker's folder is gone" test ! -e "$unixMakerDir"
check "the Start-menu shortcut is gone" test ! -e "$shortcut"
check "the entry is gone from the list of installed programs" no_uninstall_key
check "no file on drive C names the program or its maker" test -z "$(leftover_files)"
check "no registry key or value names them" test -z "$(leftover_registry)"

checks_done
