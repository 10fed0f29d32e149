#pragma once

#include "firmware/FirmwareImageClass.h"

#include <vector>

//==============================================================================
/**
    A small firmware image made by hand, with the record that points at it.

    Built from message lengths, each message is 0xF0, a body of seven-bit bytes
    that differ from message to message, and 0xF7. Built from raw bytes, it may
    be as damaged as a test needs. The record's stream may also be given a
    length other than that of the bytes.
*/
class TestImage
{
public:
    static std::vector<juce::uint8> makeMessage (int length, int seed)
    {
        std::vector<juce::uint8> message (static_cast<size_t> (length));
        message.front() = 0xf0;

        for (size_t i = 1; i + 1 < message.size(); ++i)
            message[i] = static_cast<juce::uint8> ((static_cast<size_t> (seed) * 31 + i) & 0x7f);

        message.back() = 0xf7;
        return message;
    }

    explicit TestImage (const std::vector<int>& messageLengths, juce::int32 fixedPacing = 1)
    {
        for (size_t i = 0; i < messageLengths.size(); ++i)
        {
            messages.push_back (makeMessage (messageLengths[i], static_cast<int> (i)));
            bytes.insert (bytes.end(), messages.back().begin(), messages.back().end());
        }

        pointRecordAtBytes (fixedPacing);
    }

    TestImage (std::vector<juce::uint8> rawBytes, juce::int32 fixedPacing)
        : bytes (std::move (rawBytes))
    {
        pointRecordAtBytes (fixedPacing);
    }

    std::vector<juce::uint8> bytes;
    std::vector<std::vector<juce::uint8>> messages;
    FirmwareImageClass record { "Test pedal", "0.0.01 Build 1", 0 };

private:
    void pointRecordAtBytes (juce::int32 fixedPacing)
    {
        record.streamData = bytes.empty() ? nullptr : bytes.data();
        record.streamSize = static_cast<juce::int64> (bytes.size());
        record.fixedPacing = fixedPacing;
    }

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TestImage)
};
