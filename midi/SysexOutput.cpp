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

std::unique_ptr<SysexOutput> SysexOutput::open (const juce::MidiDeviceInfo& device)
{
   #if JUCE_WINDOWS
    return WinMmSysexOutput::open (device.identifier);
   #else
    #if JUCE_LINUX
    // A client of our own for the questions the framework cannot answer.
    const auto sequencer = SequencerClient::open();

    if (sequencer == nullptr)
        return {};

    // A hardware port goes through its raw MIDI device or not at all: through
    // the sequencer, what the device's buffer cannot take would be lost unseen.
    if (const auto rawMidiDevice = sequencer->findRawMidiDeviceBehind (device.identifier))
        return RawMidiSysexOutput::open (*rawMidiDevice);

    auto output = FrameworkSysexOutput::open (device.identifier);

    // The framework hands out an output whose connection the system refused
    // (the port is busy), and its sends then go nowhere.
    if (output != nullptr && ! sequencer->isWrittenToByThisProcess (device.identifier))
        return {};

    return output;
    #else
    return FrameworkSysexOutput::open (device.identifier);
    #endif
   #endif
}
