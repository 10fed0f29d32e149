#include "upload/ZentrikTime.h"

#include <algorithm>
#include <thread>

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
    return std::chrono::steady_clock::now();
}

void ZentrikTime::waitUntilElapsed (FineTimeStamp since, juce::uint32 milliseconds) const
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = since + std::chrono::milliseconds (milliseconds);

    for (auto now = Clock::now(); now < deadline; now = Clock::now())
        std::this_thread::sleep_for (std::min<Clock::duration> (deadline - now, std::chrono::milliseconds (2)));
}
