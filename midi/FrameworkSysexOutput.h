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
    /** Opens the framework's output with this identifier; null when it cannot. */
    static std::unique_ptr<FrameworkSysexOutput> open (const juce::String& identifier);

    ~FrameworkSysexOutput() override;

    SendResult send (const juce::uint8* bytes, int numBytes) override;

private:
    explicit FrameworkSysexOutput (std::unique_ptr<juce::MidiOutput> outputToUse);

    std::unique_ptr<juce::MidiOutput> output;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FrameworkSysexOutput)
};
