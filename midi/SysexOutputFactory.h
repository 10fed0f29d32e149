#pragma once

#include "midi/SysexOutput.h"

#include <memory>

//==============================================================================
/**
    Opens the SysEx output for a device the system lists, with the back end
    that suits it: on Linux the raw MIDI device behind a hardware port (a USB
    MIDI device such as the pedal), which tells when the device has taken a
    message, and the framework's output for a port of a program; on Windows
    WinMM itself, with a bound on every wait for the driver.

    Threads: the message thread.
*/
class SysexOutputFactory
{
public:
    /** Null when the device cannot be opened. */
    static std::unique_ptr<SysexOutput> open (const juce::MidiDeviceInfo& device);

    /** True while an output of this device that stopped responding is still
        held by its driver (only WinMM can leave one behind): the device
        cannot be opened again until it is unplugged and the program restarts. */
    static bool isLeftBehind (const juce::MidiDeviceInfo& device);
};
