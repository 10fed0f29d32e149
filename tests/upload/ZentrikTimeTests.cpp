#include "upload/ZentrikTime.h"

#include <gtest/gtest.h>

#include <thread>

//==============================================================================
TEST (ZentrikTime, ElapsedTimeIsTrueAcrossAWrapOfTheCounter)
{
    // The counter wraps from 2^32 - 1 to 0.
    EXPECT_EQ (ZentrikTime::getElapsedTimeBetween (0xfffffff0u, 0x00000010u), 0x20u);
    EXPECT_EQ (ZentrikTime::getElapsedTimeBetween (0xffffffffu, 0x00000000u), 1u);
    EXPECT_EQ (ZentrikTime::getElapsedTimeBetween (0xfffffffbu, 0x0000000au), 15u);
}

TEST (ZentrikTime, ElapsedTimeWithoutAWrapIsTheDifference)
{
    EXPECT_EQ (ZentrikTime::getElapsedTimeBetween (1000u, 1015u), 15u);
    EXPECT_EQ (ZentrikTime::getElapsedTimeBetween (1000u, 1000u), 0u);
    EXPECT_EQ (ZentrikTime::getElapsedTimeBetween (0u, 0xffffffffu), 0xffffffffu);
}

TEST (ZentrikTime, StampsFollowTheMillisecondCounter)
{
    const ZentrikTime time;
    EXPECT_EQ (time.toMilliseconds(), 0);

    const auto before = juce::Time::getMillisecondCounter();
    const auto stamp = time.getTimeStamp();
    const auto after = juce::Time::getMillisecondCounter();

    EXPECT_LE (ZentrikTime::getElapsedTimeBetween (before, stamp), ZentrikTime::getElapsedTimeBetween (before, after));

    juce::Thread::sleep (20);
    const auto elapsed = time.getElapsedTime (stamp);
    EXPECT_GE (elapsed, 20u);
    EXPECT_LT (elapsed, 10000u);
}

TEST (ZentrikTime, WaitEndsOnlyOnceTheIntervalHasPassedSinceTheFineStamp)
{
    const ZentrikTime time;

    for (const auto milliseconds : { 1u, 15u, 23u })
    {
        // On a thread of its own: the upload waits off the message thread.
        const auto stamp = time.getFineTimeStamp();
        std::thread waiter ([&] { time.waitUntilElapsed (stamp, milliseconds); });
        waiter.join();
        EXPECT_GE (time.getFineTimeStamp() - stamp, std::chrono::milliseconds (milliseconds)) << milliseconds << " ms";
    }
}
