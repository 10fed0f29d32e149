#include "upload/PacingClock.h"
#include "midi/ThreadChecks.h"

#include <algorithm>
#include <thread>

#if defined (__linux__)
 #include <sys/prctl.h>
#endif

PacingClock::TimePoint PacingClock::now()
{
    return std::chrono::steady_clock::now();
}

void PacingClock::waitUntil (TimePoint deadline)
{
    QUILLET_ASSERT_NOT_MESSAGE_THREAD;

   #if defined (__linux__)
    // Linux lets a sleep end up to 50 us late by default, to group wake-ups;
    // every late wake-up lengthens the upload, so the waiting thread asks for
    // 1 us instead, once.
    [[maybe_unused]] static thread_local const auto slackSet = prctl (PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
   #endif

    for (auto t = now(); t < deadline; t = now())
        std::this_thread::sleep_for (std::min<TimePoint::duration> (deadline - t, std::chrono::milliseconds (2)));
}
