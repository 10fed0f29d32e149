#include "upload/ZentrikTime.h"

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
