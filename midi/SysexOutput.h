#pragma once

#include "midi/SendResult.h"

#include <juce_audio_devices/juce_audio_devices.h>

//==============================================================================
/**
    An open MIDI output that sends whole SysEx messages, one at a time, and says
    what became of each.

    Which back end serves an output is chosen when it is opened: on Linux the
    raw MIDI device behind a hardware port, which tells when a message has left;
    the framework's own output where nothing better is known for the device.

    Threads: opened and deleted on the message thread; send() and isPresent()
    are called on the protocol thread. The owner keeps the object alive while
    a send runs.
*/
class SysexOutput
{
public:
    virtual ~SysexOutput();

    /** Opens the output the framework lists with this identifier; null when it
        cannot be opened. */
    static std::unique_ptr<SysexOutput> open (const juce::MidiDeviceInfo& device);

    /** Sends one complete message and returns when the device has taken it
        (or, where the back end cannot tell, the system has), has failed, or
        the back end's bound has passed. */
    virtual SendResult send (const juce::uint8* bytes, int numBytes) = 0;

    /** True while the device is still there, and the connection to it the
        one that was opened. Asked as often as after every message, so it
        costs little and disturbs no other program. */
    virtual bool isPresent() = 0;

    /** True while an output of this device that stopped responding is still
        held by its driver (only WinMM can leave one behind): the device
        cannot be opened again until it is unplugged and the program restarts. */
    static bool isLeftBehind (const juce::MidiDeviceInfo& device);

    /** The longest a back end waits for a message of this many bytes to leave
        before it reports timedOut. */
    static std::chrono::microseconds getSendBound (int numBytes) noexcept;
};
