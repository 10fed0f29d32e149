#include "upload/ZentrikTime.h"

/*  ZentrikTime for the framing fuzzer, in place of upload/ZentrikTime.cpp: the
    same stamps, but a pacing wait that returns at once, so that an image of
    thousands of messages takes microseconds rather than 15 ms a message. Only
    the fuzzer links this; the program and the tests link the real wait. */

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

void ZentrikTime::waitUntilElapsed (FineTimeStamp, juce::uint32) const
{
}
