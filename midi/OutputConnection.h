#pragma once

#include "midi/SysexOutput.h"

#include <memory>

//==============================================================================
/**
    The MIDI output the user has chosen, through its whole life: opened by the
    identifier the system lists the device with, never by its position;
    written to; asked whether the device is still there; and released.

    A send keeps the output it began on alive by sharing it, so that releasing
    or replacing the output never waits for a send, and never deletes the
    output under one: the output goes once the last send that uses it has
    returned.

    Threads: choose(), reopen(), release(), forget() and the getters on the
    message thread; send() and isPresent() on the protocol thread (any thread
    but the message thread: a send may wait on the device).
*/
class OutputConnection
{
public:
    /** Why the output last chosen is not open. */
    enum class Problem
    {
        none,
        notPresent,     ///< the device is no longer among the system's outputs
        openFailed,     ///< the device is there but could not be opened (busy, for one)
        leftBehind      ///< an earlier output of the device stopped responding, and its driver still holds it
    };

    OutputConnection();

    /** Releases the output. */
    ~OutputConnection();

    //==============================================================================
    /** Releases the open output, makes this device the choice, shown under
        this name, and opens it if it is still listed as it was. False, with
        the problem noted, when it cannot be opened. */
    bool choose (const juce::MidiDeviceInfo& device, const juce::String& nameShown);

    /** Closes the chosen output and opens it anew, so that an upload never
        goes to a connection that a device left behind when it restarted.
        False when nothing is chosen or it cannot be opened. */
    bool reopen();

    /** Closes the output; the choice stays, and so does the problem noted. */
    void release();

    /** Closes the output, noting that its device has gone. */
    void releaseAsGone();

    /** Closes the output and forgets the choice. */
    void forget();

    bool isOpen() const;
    bool hasChoice() const noexcept                                 { return chosenDevice.identifier.isNotEmpty(); }
    Problem getProblem() const noexcept                             { return problem; }
    const juce::MidiDeviceInfo& getChosenDevice() const noexcept    { return chosenDevice; }

    /** The name of the device last chosen, as the selector showed it. */
    const juce::String& getChosenName() const noexcept              { return chosenName; }

    //==============================================================================
    /** Sends one complete message (more than 0 bytes) and returns when the
        device has taken it, it failed or timed out; notOpen without an open
        output. The bytes are not examined. */
    SendResult send (const juce::uint8* bytes, int numBytes);

    /** True while the open output's device is still there, as the output
        tells it; false without one. */
    bool isPresent();

private:
    std::shared_ptr<SysexOutput> getOutput() const;

    juce::MidiDeviceInfo chosenDevice;
    juce::String chosenName;
    Problem problem = Problem::none;

    /** The open output, or null; the lock is held only to read or swap it. */
    std::shared_ptr<SysexOutput> output;
    mutable juce::CriticalSection outputLock;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OutputConnection)
};
