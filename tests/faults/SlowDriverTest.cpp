// A driver whose send blocks longer than the pacing interval, under the real
// panel, MIDI interface and upload.

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
    openPanel ({ "Virtual Pedal" });
    choose (1);
    ASSERT_TRUE (panel->updateButton->isEnabled());

    // 50-byte messages at 0.5 ms a byte: each send blocks for 25 ms, beyond the
    // 15 ms interval.
    const TestImage image (std::vector<int> (30, 50));
    useImage (*panel, image);
    VirtualMidi::setSendDelayPerByte (std::chrono::microseconds (500));

    ASSERT_TRUE (uploadToTheEnd (10000));
    ASSERT_TRUE (waitForStatus (finishedStatus));

    const auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), image.messages.size());

    for (size_t i = 0; i < events.size(); ++i)
    {
        EXPECT_EQ (events[i].port, "Virtual Pedal");
        EXPECT_EQ (events[i].bytes, image.messages[i]) << "message " << i;
        EXPECT_GE (events[i].endTimeNs - events[i].timeNs, 25 * msNs) << "message " << i << " was not held by the driver";
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
