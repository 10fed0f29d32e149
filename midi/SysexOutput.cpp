#include "midi/SysexOutput.h"

#include <algorithm>

#if JUCE_WINDOWS
 #include "midi/WinMmSysexOutput.h"
#else
 #include "midi/FrameworkSysexOutput.h"
#endif

#if JUCE_LINUX
 #include "midi/RawMidiSysexOutput.h"
 #include "midi/SequencerClient.h"
#endif

SysexOutput::~SysexOutput() = default;

/** A working device takes a message at least as fast as MIDI 1.0 runs on a
    cable (31,250 baud, 10 bits a byte: 320 us a byte), the slowest a MIDI
    output drains (a USB interface passing it on to a DIN port), so a working
    device is never cut off. The second on top covers the USB bus, the driver
    and the device's own pauses. A 4,009-byte message gets 2.28 s; a device
    that takes longer has stopped (the Linux kernel itself waits ten seconds
    before it gives up draining one). */
std::chrono::microseconds SysexOutput::getSendBound (int numBytes) noexcept
{
    return std::chrono::milliseconds (1000) + std::chrono::microseconds (320) * std::max (numBytes, 0);
}

bool SysexOutput::isLeftBehind ([[maybe_unused]] const juce::MidiDeviceInfo& device)
{
   #if JUCE_WINDOWS
    return WinMmSysexOutput::isLeftBehind (device);
   #else
    return false;
   #endif
}

std::unique_ptr<SysexOutput> SysexOutput::open (const juce::MidiDeviceInfo& device)
{
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
