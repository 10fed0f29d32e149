#include "upload/ZentrikTime.h"
#include "midi/ThreadChecks.h"

ZentrikTime::ZentrikTime()
    : juce::Time()
{
}

juce::uint32 ZentrikTime::getTimeStamp() const
{
    return juce::Time::getMillisecondCounter();
}

juce::uint32 ZentrikTime::getElapsedTime (juce::uint32 since) const
{
    return getElapsedTimeBetween (since, getTimeStamp());
}

juce::uint32 ZentrikTime::getElapsedTimeBetween (juce::uint32 since, juce::uint32 now) noexcept
{
    return now - since;
}

//==============================================================================
ZentrikTime::FineTimeStamp ZentrikTime::getFineTimeStamp() const
{
    return PacingClock::now();
}

void ZentrikTime::waitUntilElapsed (FineTimeStamp since, juce::uint32 milliseconds) const
{
    QUILLET_ASSERT_NOT_MESSAGE_THREAD;

    PacingClock::waitUntil (since + std::chrono::milliseconds (milliseconds));
}
