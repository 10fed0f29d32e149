#pragma once

#include "midi/SysexOutput.h"

#include <chrono>
#include <memory>
#include <thread>

//==============================================================================
/**
    A SysEx output straight through WinMM (Windows only), which says what became
    of each message and never waits on the driver without a bound.

    Every call into the device (open, prepare, send, reset, close) is made by a
    thread of the output's own, which holds no lock while it calls: a driver may
    transmit inside midiOutLongMsg() itself, or never complete a buffer. send()
    hands the message to that thread and waits at most getSendBound() for the
    driver to mark it done. Once a send has not come back, the output never
    calls into the device again from another thread, and deleting the output
    does not wait for it: the handle and its thread are left to finish (or not)
    on their own, and until they have, the device cannot be opened again.

    Threads: as SysexOutput.
*/
class WinMmSysexOutput  : public SysexOutput
{
public:
    /** Opens the WinMM output that the framework lists with this identifier;
        null when it is not listed, the driver refuses, or the driver does not
        answer within a second. */
    static std::unique_ptr<WinMmSysexOutput> open (const juce::MidiDeviceInfo& device);

    /** True while an output of this device was left behind with a message
        still out: the driver holds the device until it lets go of the
        message, which a stuck driver never does. */
    static bool isLeftBehind (const juce::MidiDeviceInfo& device);

    /** Closes the device, or leaves it to its thread when a send is still out. */
    ~WinMmSysexOutput() override;

    SendResult send (const juce::uint8* bytes, int numBytes) override;

    /** While the device is listed. */
    bool isPresent() override;

private:
    class Device;

    WinMmSysexOutput (std::shared_ptr<Device> deviceToUse, std::thread threadToUse, const juce::MidiDeviceInfo& infoToUse);

    std::shared_ptr<Device> device;
    std::thread thread;
    const juce::MidiDeviceInfo info;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WinMmSysexOutput)
};
