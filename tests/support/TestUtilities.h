#pragma once

#include "MessageLoop.h"
#include "VirtualMidi.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <string>
#include <thread>
#include <vector>

namespace TestUtilities
{
    /** Opens a combo box's list as a click on it does (the output selector
        reads the system's devices again then) and closes it again without a
        choice. */
    inline void openAndCloseList (juce::ComboBox& box)
    {
        box.showPopup();
        juce::PopupMenu::dismissAllActiveMenus();
        MessageLoop::runFor (20);
    }

    /** A pedal that drains well above the 267 KB/s that 4,009 bytes every
        15 ms take, so it never holds the upload up. */
    constexpr std::int64_t fastPedalBytesPerSecond = 1'000'000;

    /** Makes these stand-in ports USB pedals, as the program meets a real
        one: a raw MIDI device behind each, draining at this rate. */
    inline void makeUsbPedals (const std::vector<std::string>& ports, std::int64_t bytesPerSecond = fastPedalBytesPerSecond)
    {
        for (const auto& port : ports)
            VirtualMidi::setRawMidiPort (port, bytesPerSecond);
    }

    /** A complete SysEx message of this total length, 0xF0 to 0xF7, whose
        data bytes differ from their neighbours. */
    inline std::vector<juce::uint8> makeSysex (size_t length)
    {
        std::vector<juce::uint8> bytes (length);

        for (size_t i = 0; i < length; ++i)
            bytes[i] = (juce::uint8) ((i * 7 + 3) & 0x7f);

        bytes.front() = 0xf0;
        bytes.back() = 0xf7;
        return bytes;
    }

    /** Runs the call on a thread of its own and returns what it returned: the
        protocol thread's calls assert that they are not made on the message
        thread, which the tests' own thread is. */
    template <typename Call>
    auto offTheMessageThread (Call call)
    {
        decltype (call()) result {};
        std::thread caller ([&] { result = call(); });
        caller.join();
        return result;
    }
}
