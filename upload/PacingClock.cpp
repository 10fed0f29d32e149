#include "upload/PacingClock.h"

#include <algorithm>
#include <thread>

PacingClock::TimePoint PacingClock::now()
{
    return std::chrono::steady_clock::now();
}

void PacingClock::waitUntil (TimePoint deadline)
{
    for (auto t = now(); t < deadline; t = now())
        std::this_thread::sleep_for (std::min<TimePoint::duration> (deadline - t, std::chrono::milliseconds (2)));
}
