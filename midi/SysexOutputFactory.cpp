#include "midi/SysexOutputFactory.h"

#if JUCE_WINDOWS
 #include "midi/windows/WinMmSysexOutput.h"
#else
 #include "midi/FrameworkSysexOutput.h"
#endif

#if JUCE_LINUX
 #include "midi/linux/RawMidiSysexOutput.h"
 #include "midi/linux/SequencerClient.h"
#endif

bool SysexOutputFactory::isLeftBehind ([[maybe_unused]] const juce::MidiDeviceInfo& device)
{
   #if JUCE_WINDOWS
    return WinMmSysexOutput::isLeftBehind (device);
   #else
    return false;
   #endif
}

std::unique_ptr<SysexOutput> SysexOutputFactory::open (const juce::MidiDeviceInfo& device)
{
    JUCE_ASSERT_MESSAGE_THREAD

   #if JUCE_WINDOWS
    return WinMmSysexOutput::open (device);
   #else
    #if JUCE_LINUX
    // A hardware port goes through its raw MIDI device or not at all: through
    // the sequencer, what the device's buffer cannot take would be lost unseen.
    if (const auto rawMidiDevice = SequencerClient::getInstance()->findRawMidiDeviceBehind (device.identifier))
        return RawMidiSysexOutput::open (*rawMidiDevice);
    #endif

    return FrameworkSysexOutput::open (device);
   #endif
}
