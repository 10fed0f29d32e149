#include "MidiInterfaceFixture.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

using MidiInterfaceThreads = MidiInterfaceFixture;

//==============================================================================
// A choice made from code while another thread sends replaces or closes the
// output under the running send. Meant to be run under the address and thread
// sanitizers as well: the send must never use a deleted output.
TEST_F (MidiInterfaceThreads, SendingWhileTheOutputIsReplacedOrClosed)
{
    // USB devices, whose sends last until the device has taken the message,
    // so that many choices land while a send is running.
    TestUtilities::makeUsbPedals ({ "A", "B" }, 1'000'000);
    start ({ "A", "B" });

    const auto message = TestUtilities::makeSysex (300);
    std::atomic<bool> stop { false };
    std::atomic<int> numSends { 0 };

    std::thread sender ([&]
    {
        while (! stop.load())
        {
            const auto status = midi->sendBytes (message.data(), (int) message.size()).status;
            EXPECT_TRUE (status == SendResult::Status::sent || status == SendResult::Status::notOpen);
            ++numSends;
            std::this_thread::sleep_for (std::chrono::microseconds (50));
        }
    });

    for (int round = 0; round < 60; ++round)
    {
        choose (1);
        choose (2);
        midi->selectOutput (1);
        choose (3);
        midi->selectOutput (2);
        midi->selectOutput (3);
        drain();
    }

    stop = true;
    sender.join();

    EXPECT_FALSE (midi->isConnected());
    EXPECT_GT (numSends.load(), 0);

    const auto events = VirtualMidi::getEvents();
    EXPECT_FALSE (events.empty());

    const auto numWhole = std::count_if (events.begin(), events.end(), [&] (const VirtualMidi::Event& e)
    {
        return (e.port == "A" || e.port == "B") && e.bytes == message;
    });

    EXPECT_EQ ((size_t) numWhole, events.size());
}

//==============================================================================
namespace
{
    /** What happened while the output was changed during a long send. */
    struct SwitchDuringSend
    {
        VirtualMidi::Event send;
        std::int64_t choiceStartNs = 0, choiceEndNs = 0;
    };
}

class MidiInterfaceSwitching  : public MidiInterfaceFixture
{
protected:
    /** Starts a send of 200 ms to a USB device (1,000 bytes at 5,000 a second)
        on another thread and makes the choice 40 ms into it. */
    SwitchDuringSend switchDuringSend (const std::function<void()>& makeChoice)
    {
        const auto message = TestUtilities::makeSysex (1000);
        VirtualMidi::clearEvents();

        SwitchDuringSend result;
        std::atomic<bool> sending { false };

        std::thread sender ([&]
        {
            sending = true;
            midi->sendBytes (message.data(), (int) message.size());
        });

        while (! sending.load())
            std::this_thread::yield();

        std::this_thread::sleep_for (std::chrono::milliseconds (40));

        result.choiceStartNs = monotonicNs();
        makeChoice();
        result.choiceEndNs = monotonicNs();

        sender.join();

        const auto events = VirtualMidi::getEvents();

        if (events.size() == 1)
            result.send = events[0];
        else
            ADD_FAILURE() << events.size() << " events instead of one";

        EXPECT_LT (result.send.timeNs, result.choiceStartNs) << "the send began only after the choice";
        return result;
    }
};

// A choice made while a send runs does not wait for it (closing never waits on
// a device); the send finishes whole on the output it began on, which closes
// as soon as the send has returned.
TEST_F (MidiInterfaceSwitching, AChoiceDoesNotWaitForTheRunningSendWhichEndsOnItsOwnOutput)
{
    TestUtilities::makeUsbPedals ({ "A", "B", "C" }, 5'000);
    start ({ "A", "B", "C" });
    choose (2);
    ASSERT_TRUE (midi->isConnected());

    const auto chosen = switchDuringSend ([this] { choose (3); });

    EXPECT_EQ (chosen.send.port, "B");
    EXPECT_LT (chosen.choiceEndNs, chosen.send.endTimeNs);
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 1);

    const auto dropped = switchDuringSend ([this] { choose (4); });

    EXPECT_EQ (dropped.send.port, "C");
    EXPECT_LT (dropped.choiceEndNs, dropped.send.endTimeNs);
    EXPECT_FALSE (midi->isConnected());
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);
}
