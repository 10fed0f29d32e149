// Sends that last longer than the pacing interval, and a USB pedal slower than
// the upload, under the real panel, MIDI interface and upload.

#include "FaultTestSupport.h"

#include <algorithm>

using namespace FaultTestSupport;

namespace
{
    constexpr std::int64_t msNs = 1'000'000;

    using SlowDriver = FaultPanelTest;
}

TEST_F (SlowDriver, ASendLongerThanTheIntervalIsFollowedAtOnceAndLosesNothing)
{
    // 50-byte messages to a pedal that takes 2,000 bytes a second: each send
    // lasts 25 ms, beyond the 15 ms interval.
    openPanel ({ "Virtual Pedal" });
    TestUtilities::makeUsbPedals ({ "Virtual Pedal" }, 2'000);
    choose (1);
    ASSERT_TRUE (panel->updateButton->isEnabled());

    const TestImage image (std::vector<int> (30, 50));
    useImage (*panel, image);

    ASSERT_TRUE (uploadToTheEnd (10000));
    ASSERT_TRUE (waitForStatus (finishedStatus));

    const auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), image.messages.size());

    for (size_t i = 0; i < events.size(); ++i)
    {
        EXPECT_EQ (events[i].port, "Virtual Pedal");
        EXPECT_EQ (events[i].bytes, image.messages[i]) << "message " << i;
        EXPECT_GE (events[i].endTimeNs - events[i].timeNs, 25 * msNs) << "message " << i << " was not held by the pedal";
    }

    // Waiting out the interval after such a send would leave 15 ms between the
    // end of one send and the start of the next, every time. What may lie
    // there instead is only the upload's turn at the message thread, before
    // each message and at each new hundredth, which a busy machine delays now
    // and then.
    int numQuickFollowers = 0;
    std::int64_t longestPauseNs = 0;

    for (size_t i = 1; i < events.size(); ++i)
    {
        const auto pause = events[i].timeNs - events[i - 1].endTimeNs;
        longestPauseNs = std::max (longestPauseNs, pause);

        if (pause < 5 * msNs)
            ++numQuickFollowers;

        EXPECT_GE (events[i].timeNs - events[i - 1].timeNs, 15 * msNs) << "message " << i << " started too early";
    }

    const auto numPauses = (int) events.size() - 1;
    EXPECT_GE (numQuickFollowers * 3, numPauses * 2)
        << numQuickFollowers << " of " << numPauses << " sends followed the previous within 5 ms; longest pause "
        << (double) longestPauseNs / (double) msNs << " ms";
}

// 4,009 bytes every 15 ms take 267 KB/s. A pedal that drains slower gets every
// message whole, each one only once the last has left, and the upload runs at
// the pedal's speed: within 5 % of its bytes at its rate. The pause between one
// message's last byte and the next one's first is taken at its median, so that
// a scheduling hiccup on a busy machine does not decide the outcome.
TEST_F (SlowDriver, ASlowUsbPedalGetsEveryMessageWholeAtItsOwnSpeed)
{
    const TestImage image (std::vector<int> (60, 4009));

    for (const std::int64_t bytesPerSecond : { 100'000, 200'000 })
    {
        SCOPED_TRACE (bytesPerSecond);

        openPanel ({ "Virtual Pedal" });
        TestUtilities::makeUsbPedals ({ "Virtual Pedal" }, bytesPerSecond);
        useImage (*panel, image);
        choose (1);

        ASSERT_TRUE (uploadToTheEnd (10000));
        ASSERT_TRUE (waitForStatus (finishedStatus));

        const auto events = VirtualMidi::getEvents();
        ASSERT_EQ (events.size(), image.messages.size());
        std::vector<std::int64_t> pausesNs;

        for (size_t i = 0; i < events.size(); ++i)
        {
            EXPECT_EQ (events[i].port, "Virtual Pedal");
            EXPECT_EQ (events[i].bytes, image.messages[i]) << "message " << i;

            if (i > 0)
            {
                EXPECT_GE (events[i].timeNs - events[i - 1].timeNs, 15 * msNs) << "message " << i << " started too early";
                EXPECT_GE (events[i].timeNs, events[i - 1].endTimeNs) << "message " << i << " started before the last had left";
                pausesNs.push_back (events[i].timeNs - events[i - 1].endTimeNs);
            }
        }

        std::nth_element (pausesNs.begin(), pausesNs.begin() + (long) pausesNs.size() / 2, pausesNs.end());
        const auto drainNs = (double) image.bytes.size() * 1.0e9 / (double) bytesPerSecond;
        const auto typicalUploadNs = drainNs + (double) pausesNs[pausesNs.size() / 2] * (double) pausesNs.size();

        EXPECT_LE (typicalUploadNs, 1.05 * drainNs)
            << "the pedal's bytes at its rate " << drainNs / 1.0e6 << " ms; with the median pause "
            << typicalUploadNs / 1.0e6 << " ms; the upload took " << (double) (events.back().endTimeNs - events.front().timeNs) / 1.0e6 << " ms";

        window.reset();
    }
}
