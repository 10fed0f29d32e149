#pragma once

#include <juce_audio_devices/juce_audio_devices.h>

//==============================================================================
/**
    The system's MIDI outputs, as the framework lists them, and the one lock
    under which the program asks the framework to list, open or close them.

    JUCE's Linux back end creates and deletes its shared sequencer client inside
    those calls without a lock of its own, and the upload checks the pedal's
    presence on its own thread while the window may list or open devices on the
    message thread. None of these calls waits on a device, so the lock is only
    ever held briefly.

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
