#pragma once

#include <juce_core/juce_core.h>

//==============================================================================
/**
    Millisecond time stamps for pacing the upload.

    The stamps come from JUCE's millisecond counter, an unsigned 32-bit count of
    milliseconds since the system started that wraps to 0 after 2^32 ms (about
    49.7 days), so a difference of two stamps is only meaningful modulo 2^32.

    Threads: the stamps are taken on the protocol thread; the functions keep no
    state and may be called on any thread.
*/
class ZentrikTime  : public juce::Time
{
public:
    /** JUCE's zero time; the stamps below never use it. */
    ZentrikTime();

    /** The millisecond counter now. */
    juce::uint32 getTimeStamp() const;

    /** Milliseconds from the stamp `since` until now, true across one wrap of the counter. */
    juce::uint32 getElapsedTime (juce::uint32 since) const;

    /** Milliseconds from the stamp `since` until the stamp `now`. Unsigned 32-bit
        subtraction wraps exactly as the counter does, so a `now` that lies past a
        wrap of the counter (and so reads below `since`) still gives the true time. */
    static juce::uint32 getElapsedTimeBetween (juce::uint32 since, juce::uint32 now) noexcept;

private:
    JUCE_LEAK_DETECTOR (ZentrikTime)
};
