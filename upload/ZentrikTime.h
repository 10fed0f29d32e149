#pragma once

#include <juce_core/juce_core.h>

#include "upload/PacingClock.h"

//==============================================================================
/**
    Time stamps for pacing the upload, and the wait between two sends.

    The millisecond stamps come from JUCE's millisecond counter, an unsigned
    32-bit count of milliseconds since the system started that wraps to 0 after
    2^32 ms (about 49.7 days), so a difference of two stamps is only meaningful
    modulo 2^32. The fine stamps come from the steady clock, which never wraps
    and resolves far below a millisecond; the pacing wait is measured on them.

    Threads: the stamps are taken and the waits made on the protocol thread; the
    functions keep no state and may be called on any thread.
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

    //==============================================================================
    /** A point on the steady clock. */
    using FineTimeStamp = PacingClock::TimePoint;

    /** The steady clock now. */
    FineTimeStamp getFineTimeStamp() const;

    /** Returns once the given number of milliseconds has passed since the fine
        stamp `since`; see PacingClock::waitUntil() for how it waits. */
    void waitUntilElapsed (FineTimeStamp since, juce::uint32 milliseconds) const;

private:
    JUCE_LEAK_DETECTOR (ZentrikTime)
};
