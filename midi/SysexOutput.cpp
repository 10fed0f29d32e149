#include "midi/SysexOutput.h"

#include <algorithm>

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
