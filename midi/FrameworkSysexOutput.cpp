#include "midi/FrameworkSysexOutput.h"
#include "midi/MidiDeviceList.h"

#if JUCE_LINUX
 #include "midi/SequencerClient.h"
#endif

std::unique_ptr<FrameworkSysexOutput> FrameworkSysexOutput::open (const juce::MidiDeviceInfo& device)
{
   #if JUCE_LINUX
    auto* const sequencer = SequencerClient::getInstance();

    if (! sequencer->watch (device.identifier))
    {
        sequencer->stopWatching (device.identifier);
        return {};
    }
   #endif

    std::unique_ptr<juce::MidiOutput> opened;

    {
        const juce::ScopedLock sl (MidiDeviceList::getLock());
        opened = juce::MidiOutput::openDevice (device.identifier);
    }

   #if JUCE_LINUX
    if (opened == nullptr || ! sequencer->isWrittenToByThisProcess (device.identifier))
    {
        const juce::ScopedLock sl (MidiDeviceList::getLock());
        opened.reset();
        sequencer->stopWatching (device.identifier);
        return {};
    }
   #else
    if (opened == nullptr)
        return {};
   #endif

    return std::unique_ptr<FrameworkSysexOutput> (new FrameworkSysexOutput (std::move (opened), device));
}

FrameworkSysexOutput::FrameworkSysexOutput (std::unique_ptr<juce::MidiOutput> outputToUse, const juce::MidiDeviceInfo& deviceToUse)
    : output (std::move (outputToUse)), device (deviceToUse)
{
}

FrameworkSysexOutput::~FrameworkSysexOutput()
{
    {
        const juce::ScopedLock sl (MidiDeviceList::getLock());
        output.reset();
    }

   #if JUCE_LINUX
    SequencerClient::getInstance()->stopWatching (device.identifier);
   #endif
}

SendResult FrameworkSysexOutput::send (const juce::uint8* bytes, int numBytes)
{
    output->sendMessageNow (juce::MidiMessage (bytes, numBytes, 0.0));
    return { SendResult::Status::handedOver };
}

bool FrameworkSysexOutput::isPresent()
{
   #if JUCE_LINUX
    return ! SequencerClient::getInstance()->hasLeft (device.identifier);
   #else
    return MidiDeviceList::containsOutput (device);
   #endif
}
