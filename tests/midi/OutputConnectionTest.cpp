// The chosen output's life without a window: opening by the listed device,
// sending whole messages to the back end that suits the device, and what
// stands in the way of an output that cannot be opened.

#include "midi/MidiDeviceList.h"
#include "midi/OutputConnection.h"
#include "midi/linux/SequencerClient.h"
#include "TestUtilities.h"

#include <gtest/gtest.h>

namespace
{
    class OutputConnectionTest  : public testing::Test
    {
    protected:
        void SetUp() override      { VirtualMidi::reset(); }
        void TearDown() override   { connection.forget(); VirtualMidi::reset(); }

        static juce::MidiDeviceInfo findDevice (const juce::String& name)
        {
            for (const auto& device : MidiDeviceList::getOutputs())
                if (device.name == name)
                    return device;

            return {};
        }

        bool choose (const juce::String& name)
        {
            return connection.choose (findDevice (name), name);
        }

        SendResult send (const std::vector<juce::uint8>& message)
        {
            return TestUtilities::offTheMessageThread ([&] { return connection.send (message.data(), (int) message.size()); });
        }

        OutputConnection connection;
    };

    std::int64_t nanosecondsOf (std::chrono::steady_clock::time_point time)
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds> (time.time_since_epoch()).count();
    }
}

//==============================================================================
TEST_F (OutputConnectionTest, WithoutAnOutputSendsNothing)
{
    VirtualMidi::setOutputPorts ({ "A" });
    VirtualMidi::setOpenRefused ("A", true);
    const auto message = TestUtilities::makeSysex (16);

    EXPECT_EQ (send (message).status, SendResult::Status::notOpen);

    // A refused output is no output either: the framework opens a program's
    // busy port although the system refused its connection, which would send
    // into nothing.
    ASSERT_NE (juce::MidiOutput::openDevice (findDevice ("A").identifier), nullptr);
    EXPECT_FALSE (choose ("A"));
    EXPECT_EQ (connection.getProblem(), OutputConnection::Problem::openFailed);
    EXPECT_EQ (send (message).status, SendResult::Status::notOpen);
    EXPECT_TRUE (VirtualMidi::getEvents().empty());
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);
}

TEST_F (OutputConnectionTest, AProgramsPortTakesALargeSysexWholeAndUnchanged)
{
    VirtualMidi::setOutputPorts ({ "A", "B" });
    ASSERT_TRUE (choose ("B"));

    const auto message = TestUtilities::makeSysex (4009);
    const auto copy = message;

    EXPECT_EQ (send (message).status, SendResult::Status::handedOver);

    const auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), 1u);
    EXPECT_EQ (events[0].port, "B");
    EXPECT_EQ (events[0].bytes, copy);
    EXPECT_EQ (message, copy);
}

// A USB device is written through the raw MIDI device behind its port: a
// message longer than the device's buffer goes in in pieces, and the send
// returns once the device has taken its last byte, stamped with when its
// first went in.
TEST_F (OutputConnectionTest, AUsbDeviceTakesAMessageLongerThanItsBufferWholeBeforeTheSendReturns)
{
    VirtualMidi::setOutputPorts ({ "A", "USB" });
    VirtualMidi::setRawMidiPort ("USB", 500'000);

    auto* sequencer = SequencerClient::getInstance();
    EXPECT_EQ (sequencer->findRawMidiDeviceBehind (findDevice ("A").identifier), std::nullopt);
    EXPECT_EQ (sequencer->findRawMidiDeviceBehind (findDevice ("USB").identifier), std::optional<juce::String> ("hw:0,0,0"));

    ASSERT_TRUE (choose ("USB"));

    const auto message = TestUtilities::makeSysex (10'000);
    const auto result = send (message);
    const auto returnedNs = nanosecondsOf (std::chrono::steady_clock::now());

    ASSERT_EQ (result.status, SendResult::Status::sent);
    ASSERT_TRUE (result.handedOverAt.has_value());

    const auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), 1u);
    EXPECT_EQ (events[0].port, "USB");
    EXPECT_EQ (events[0].bytes, message);
    EXPECT_LE (events[0].endTimeNs, returnedNs);

    const auto handedOverNs = nanosecondsOf (*result.handedOverAt);
    EXPECT_GE (handedOverNs, events[0].timeNs);
    EXPECT_LT (handedOverNs, events[0].endTimeNs);
}

TEST (SequencerClient, NamesTheDeviceBehindAPortAsTheKernelsBridgeNumbersItsPorts)
{
    EXPECT_EQ (SequencerClient::getRawMidiDeviceName (0, 0), "hw:0,0,0");
    EXPECT_EQ (SequencerClient::getRawMidiDeviceName (2, 31), "hw:2,0,31");
    EXPECT_EQ (SequencerClient::getRawMidiDeviceName (1, 33), "hw:1,1,1");
    EXPECT_EQ (SequencerClient::getRawMidiDeviceName (3, 255), "hw:3,7,31");
}
