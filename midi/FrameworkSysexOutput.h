#pragma once

#include "midi/SysexOutput.h"

//==============================================================================
/**
    A SysEx output through the framework's own MIDI output and its immediate
    send, which reports no errors: a send counts as handed over once the
    framework has passed the message to the system, which cannot say whether
    the device took it.

    Threads: as SysexOutput.
*/
class FrameworkSysexOutput  : public SysexOutput
{
public:
    /** Opens the framework's output for this device; null when it cannot, or
        when the system refused its connection (the framework opens the output
        all the same, to send into nothing). */
    static std::unique_ptr<FrameworkSysexOutput> open (const juce::MidiDeviceInfo& device);

    ~FrameworkSysexOutput() override;

    SendResult send (const juce::uint8* bytes, int numBytes) override;

    /** On Linux, until the system announces that the port has left; elsewhere,
        while the device is listed. */
    bool isPresent() override;

private:
    FrameworkSysexOutput (std::unique_ptr<juce::MidiOutput> outputToUse, const juce::MidiDeviceInfo& deviceToUse);

    std::unique_ptr<juce::MidiOutput> output;
    const juce::MidiDeviceInfo device;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FrameworkSysexOutput)
};
