#include "upload/PacingClock.h"

/*  PacingClock for the framing fuzzer, in place of upload/PacingClock.cpp: the
    same clock, but a wait that returns at once, so that an image of thousands of
    messages takes microseconds rather than 15 ms a message. Only the fuzzer
    links this; the program and the tests link the real wait. */

PacingClock::TimePoint PacingClock::now()
{
    return std::chrono::steady_clock::now();
}

void PacingClock::waitUntil (TimePoint)
{
}
