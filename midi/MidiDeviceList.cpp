#include "midi/MidiDeviceList.h"

juce::Array<juce::MidiDeviceInfo> MidiDeviceList::getOutputs()
{
    const juce::ScopedLock sl (getLock());
    return juce::MidiOutput::getAvailableDevices();
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
