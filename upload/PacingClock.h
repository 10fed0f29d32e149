#pragma once

#include <chrono>

//==============================================================================
/**
    The steady clock the upload paces on, and the wait between two sends.

    Kept apart from the upload's time stamps so that the framing fuzzer can link
    an instant wait in place of this one and leave everything else as shipped.

    Threads: called on the protocol thread; keeps no state.
*/
class PacingClock
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    /** The steady clock now: it never wraps and resolves far below a millisecond. */
    static TimePoint now();

    /** Returns once the deadline has passed. The first look comes before any
        sleep, so a deadline already passed returns at once. It sleeps 2 ms at a
        time, and the last sleep only as long as remains, so it returns within a
        fraction of a millisecond of the deadline (JUCE's Thread::sleep knows
        whole milliseconds only). */
    static void waitUntil (TimePoint deadline);
};
