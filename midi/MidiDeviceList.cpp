#include "midi/MidiDeviceList.h"

#if JUCE_LINUX
 #include "midi/SequencerClient.h"
#endif

juce::Array<juce::MidiDeviceInfo> MidiDeviceList::getOutputs()
{
   #if JUCE_LINUX
    return SequencerClient::getInstance()->getOutputs();
   #else
    const juce::ScopedLock sl (getLock());
    return juce::MidiOutput::getAvailableDevices();
   #endif
}

bool MidiDeviceList::containsOutput (const juce::MidiDeviceInfo& device)
{
    return getOutputs().contains (device);
}

juce::CriticalSection& MidiDeviceList::getLock()
{
    static juce::CriticalSection lock;
    return lock;
}
