#include "midi/FrameworkSysexOutput.h"
#include "midi/MidiDeviceList.h"

std::unique_ptr<FrameworkSysexOutput> FrameworkSysexOutput::open (const juce::String& identifier)
{
    std::unique_ptr<juce::MidiOutput> opened;

    {
        const juce::ScopedLock sl (MidiDeviceList::getLock());
        opened = juce::MidiOutput::openDevice (identifier);
    }

    if (opened == nullptr)
        return {};

    return std::unique_ptr<FrameworkSysexOutput> (new FrameworkSysexOutput (std::move (opened)));
}

FrameworkSysexOutput::FrameworkSysexOutput (std::unique_ptr<juce::MidiOutput> outputToUse)
    : output (std::move (outputToUse))
{
}

FrameworkSysexOutput::~FrameworkSysexOutput()
{
    const juce::ScopedLock sl (MidiDeviceList::getLock());
    output.reset();
}

SendResult FrameworkSysexOutput::send (const juce::uint8* bytes, int numBytes)
{
    output->sendMessageNow (juce::MidiMessage (bytes, numBytes, 0.0));
    return { SendResult::Status::handedOver };
}
