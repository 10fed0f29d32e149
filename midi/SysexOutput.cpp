#include "midi/SysexOutput.h"
#include "midi/FrameworkSysexOutput.h"

#if JUCE_WINDOWS
 #include "midi/WinMmSysexOutput.h"
#endif

SysexOutput::~SysexOutput() = default;

std::unique_ptr<SysexOutput> SysexOutput::open (const juce::MidiDeviceInfo& device)
{
   #if JUCE_WINDOWS
    return WinMmSysexOutput::open (device.identifier);
   #else
    return FrameworkSysexOutput::open (device.identifier);
   #endif
}
