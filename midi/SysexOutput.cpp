#include "midi/SysexOutput.h"

#if JUCE_WINDOWS
 #include "midi/WinMmSysexOutput.h"
#else
 #include "midi/FrameworkSysexOutput.h"
#endif

#if JUCE_LINUX
 #include "midi/RawMidiSysexOutput.h"
#endif

SysexOutput::~SysexOutput() = default;

std::unique_ptr<SysexOutput> SysexOutput::open (const juce::MidiDeviceInfo& device)
{
   #if JUCE_WINDOWS
    return WinMmSysexOutput::open (device.identifier);
   #else
    #if JUCE_LINUX
    // A hardware port goes through its raw MIDI device or not at all: through
    // the sequencer, what the device's buffer cannot take would be lost unseen.
    if (const auto rawMidiDevice = RawMidiSysexOutput::findDeviceBehind (device.identifier))
        return RawMidiSysexOutput::open (*rawMidiDevice);
    #endif

    return FrameworkSysexOutput::open (device.identifier);
   #endif
}
