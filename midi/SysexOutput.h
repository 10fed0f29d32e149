#pragma once

#include "midi/SendResult.h"

#include <juce_audio_devices/juce_audio_devices.h>

//==============================================================================
/**
    An open MIDI output that sends whole SysEx messages, one at a time, and says
    what became of each.

    SysexOutputFactory opens one, with the back end that suits the device.

    Threads: opened on the message thread; send() and isPresent() are called
    on the protocol thread. The owner keeps the object alive while a send runs,
    so it is deleted by whichever thread lets go of it last.
*/
class SysexOutput
{
public:
    virtual ~SysexOutput();

    /** Sends one complete message and returns when the device has taken it
        (or, where the back end cannot tell, the system has), has failed, or
        the back end's bound has passed. */
    virtual SendResult send (const juce::uint8* bytes, int numBytes) = 0;

    /** True while the device is still there, and the connection to it the
        one that was opened. Asked as often as after every message, so it
        costs little and disturbs no other program. */
    virtual bool isPresent() = 0;

    /** The longest a back end waits for a message of this many bytes to leave
        before it reports timedOut. */
    static std::chrono::microseconds getSendBound (int numBytes) noexcept;
};
