#include "midi/SysexOutput.h"
#include "midi/FrameworkSysexOutput.h"

SysexOutput::~SysexOutput() = default;

std::unique_ptr<SysexOutput> SysexOutput::open (const juce::MidiDeviceInfo& device)
{
    return FrameworkSysexOutput::open (device.identifier);
}
