#!/usr/bin/env bash
# Builds the updater (Release) and starts it.
#
# On a machine without a MIDI sequencer (no /dev/snd/seq) it starts the
# program over the stand-in MIDI service with one port, "Virtual Pedal", and
# afterwards checks what that virtual pedal received against the image.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/release"

"$root/scripts/install-deps.sh"

cmake --preset release -S "$root" >/dev/null
cmake --build "$build" --target QuilletLooperSwUpdater virtual-midi quillet-capture-check

program="$build/QuilletLooperSwUpdater_artefacts/Release/QuilletLooperSwUpdater"

if [[ -z "${DISPLAY:-}" ]]; then
    echo "The updater is a desktop program: run this from a desktop session (DISPLAY is not set)." >&2
    exit 1
fi

if [[ -e /dev/snd/seq ]]; then
    exec "$program"
fi

capture="$build/virtual-pedal.capture"
rm -f "$capture"

echo "No MIDI sequencer on this machine: the updater runs over a stand-in MIDI service."
echo "Choose \"Virtual Pedal\" under STEP1, then press update."

# The virtual pedal is a USB MIDI device, as the real one is: the updater
# writes to the raw MIDI device behind its port.
status=0
LD_PRELOAD="$build/tools/virtual-midi/libvirtual-midi.so" \
VIRTUAL_MIDI_PORTS="Virtual Pedal" \
VIRTUAL_MIDI_RAWMIDI="Virtual Pedal:1000000" \
VIRTUAL_MIDI_CAPTURE="$capture" \
    "$program" || status=$?

if (( status > 128 )); then
    echo "The updater crashed: it ended on signal $(kill -l $(( status - 128 )))." >&2
elif (( status != 0 )); then
    echo "The updater ended with status $status." >&2
fi

# The capture starts with a 16-byte header; anything beyond it is a message.
# What arrived is checked whether the program ended well or not; the run fails
# on either.
if [[ -f "$capture" && $(stat -c %s "$capture") -gt 16 ]]; then
    echo
    echo "What the virtual pedal received:"
    checked=0
    "$build/tools/capture-check/quillet-capture-check" "$capture" "$build/firmware/development-image.syx" \
        || checked=$?
    (( status != 0 )) || status=$checked
else
    echo "The virtual pedal received nothing."
fi

exit "$status"
