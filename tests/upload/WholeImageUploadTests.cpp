#include "upload/BasicSysexProtocolClass.h"
#include "midi/MidiInterfaceClass.h"
#include "Expected.h"
#include "MessageLoop.h"
#include "TestUtilities.h"
#include "VirtualMidi.h"

#include <gtest/gtest.h>

#include <chrono>

namespace
{
    /** The real MIDI interface, noting when each send is called and when it returns. */
    class TimedMidiInterface  : public MidiInterfaceClass
    {
    public:
        SendResult sendBytes (const juce::uint8* bytes, int numBytes) override
        {
            const auto start = now();
            const auto result = MidiInterfaceClass::sendBytes (bytes, numBytes);
            calls.push_back ({ start, now() });
            return result;
        }

        /** Start and return of each send on the steady clock, in ns; written by
            the sending thread, read once it has ended. */
        std::vector<std::pair<std::int64_t, std::int64_t>> calls;

    private:
        static std::int64_t now()
        {
            return std::chrono::duration_cast<std::chrono::nanoseconds> (std::chrono::steady_clock::now().time_since_epoch()).count();
        }

        JUCE_LEAK_DETECTOR (TimedMidiInterface)
    };

    /** The messages of a well-formed image, framed from 0xF0 to the next 0xF7. */
    std::vector<std::vector<juce::uint8>> frameMessages (const juce::uint8* data, juce::int64 size)
    {
        std::vector<std::vector<juce::uint8>> messages;
        juce::int64 start = 0;

        while (start < size)
        {
            EXPECT_EQ (data[start], 0xf0) << "at byte " << start;
            auto end = start + 1;

            while (end < size && data[end] != 0xf7)
                ++end;

            messages.emplace_back (data + start, data + end + 1);
            start = end + 1;
        }

        return messages;
    }
}

//==============================================================================
// The embedded image, through the real MIDI interface to a USB pedal of the
// stand-in MIDI service: about 46 seconds.
//
// The interval is kept between the starts of the calls into the interface. The
// stand-in service notes a send somewhat later, after the interface and JUCE
// have built and encoded the message; a scheduling delay on that way shows as a
// shorter gap there, which the upload can neither see nor prevent.
TEST (WholeImageUpload, EmbeddedImageGoesOutUnchangedInOrderAtLeast15msApart)
{
    VirtualMidi::reset();
    VirtualMidi::setOutputPorts ({ "Q7 Update Port" });
    TestUtilities::makeUsbPedals ({ "Q7 Update Port" });

    FirmwareImageClass image;
    image.fixedPacing = 1;

    const auto expected = frameMessages (image.streamData, image.streamSize);
    ASSERT_EQ (expected.size(), 3065u);

    auto midi = std::make_unique<TimedMidiInterface>();
    MessageLoop::runFor (50);
    midi->selectOutput (1);
    MessageLoop::runFor (50);
    ASSERT_TRUE (midi->isConnected());
    VirtualMidi::clearEvents();

    auto protocol = std::make_unique<BasicSysexProtocolClass> (midi.get(), &image);
    protocol->startProtocol();
    ASSERT_TRUE (MessageLoop::runUntil ([&] { return ! protocol->isThreadRunning(); }, 300000));

    EXPECT_EQ (protocol->getStatusText(), Expected::text ("status.complete"));
    EXPECT_EQ (protocol->progress.load(), 1.0);
    EXPECT_EQ (protocol->getUploadState(), ProgressClass::UploadState::complete);

    const auto events = VirtualMidi::getEvents();
    const auto& calls = midi->calls;
    ASSERT_EQ (events.size(), expected.size());
    ASSERT_EQ (calls.size(), expected.size());

    for (size_t i = 0; i < events.size(); ++i)
    {
        ASSERT_EQ (events[i].port, "Q7 Update Port") << "message " << i;
        ASSERT_EQ (events[i].bytes, expected[i]) << "message " << i;

        // Each message reached the pedal, and left its buffer, within its own call.
        ASSERT_GE (events[i].timeNs, calls[i].first) << "message " << i;
        ASSERT_LE (events[i].endTimeNs, calls[i].second) << "message " << i;

        if (i > 0)
        {
            ASSERT_GE (calls[i].first - calls[i - 1].first, 15000000) << "before message " << i;
        }
    }

    protocol.reset();
    midi.reset();
    VirtualMidi::reset();
}
