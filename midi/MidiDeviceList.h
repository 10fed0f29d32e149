#pragma once

#include <juce_audio_devices/juce_audio_devices.h>

//==============================================================================
/**
    The system's MIDI outputs, in the order and under the identifiers the
    framework lists them with, and the one lock under which the program asks
    the framework to list, open or close them.

    On Linux the list comes from the program's own sequencer client, named as
    the system names the ports (UTF-8): the framework reads the names byte by
    byte, and opens and closes a client of its own for every listing, which
    every other MIDI program hears about. Elsewhere it is the framework's.

    JUCE's Linux back end creates and deletes its shared sequencer client inside
    its calls without a lock of its own, while the window may open or close
    devices on the message thread and the upload thread may still hold one.
    None of these calls waits on a device, so the lock is only ever held
    briefly.

    Threads: any.
*/
class MidiDeviceList
{
public:
    /** The outputs in the system's order. */
    static juce::Array<juce::MidiDeviceInfo> getOutputs();

    /** True if this output is listed now, under the same identifier and name:
        a different device may take over an identifier a device has left. */
    static bool containsOutput (const juce::MidiDeviceInfo& device);

    /** Held around every other call that opens or closes a framework device. */
    static juce::CriticalSection& getLock();
};
