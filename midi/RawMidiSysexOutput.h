#pragma once

#include "midi/SysexOutput.h"

#include <chrono>
#include <optional>

struct _snd_rawmidi;
struct _snd_rawmidi_status;

//==============================================================================
/**
    A SysEx output written straight to the ALSA raw MIDI device behind a
    hardware sequencer port (a USB MIDI device such as the pedal, an interface's
    MIDI port), which knows when a message has left the host and when the
    device fails.

    The sequencer cannot tell: the kernel's bridge copies each event into the
    device's output buffer and discards whatever does not fit, reporting
    nothing, so a device that drains slower than the upload sends loses data
    while every send counts as a success. Here a send writes the whole message
    into that buffer and waits until the device has taken all of it.

    The device is opened without the sequencer port, which would have the
    bridge hold the same output.

    Threads: as SysexOutput. Linux only.
*/
class RawMidiSysexOutput  : public SysexOutput
{
public:
    /** Opens the raw MIDI device for output; null when it cannot be opened
        (another program has it, or it has gone). */
    static std::unique_ptr<RawMidiSysexOutput> open (const juce::String& deviceName);

    /** Discards what the device has not taken yet, so that closing never
        waits on a device that stopped draining, and closes it. */
    ~RawMidiSysexOutput() override;

    /** Writes the whole message and returns once the device has taken every
        byte, through the driver's own transfers (sent, with the moment its
        first bytes were written), the device reported an error (failed), the
        bound passed (timedOut) or the calling thread was asked to exit
        (cancelled). */
    SendResult send (const juce::uint8* bytes, int numBytes) override;

    /** Until the device reports that it has gone. */
    bool isPresent() override;

private:
    RawMidiSysexOutput (_snd_rawmidi* handleToUse, size_t bufferSizeToUse);

    enum class Wait
    {
        ready,
        failed,
        timedOut,
        cancelled
    };

    bool isTakenByTheDevice (_snd_rawmidi_status* status);
    static Wait getWaitTime (std::chrono::steady_clock::time_point deadline, int& timeoutMs);
    Wait waitUntilReady (std::chrono::steady_clock::time_point deadline);
    static Wait sleepBriefly (std::chrono::steady_clock::time_point deadline);

    _snd_rawmidi* handle;
    const size_t bufferSize;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RawMidiSysexOutput)
};
