#pragma once

#include <juce_events/juce_events.h>
#include <functional>

namespace MessageLoop
{
    /** Runs the message loop on the calling (message) thread until the condition
        holds or the time-out passes; returns whether the condition held.

        The time-out is a safety net for a condition that normally holds long
        before it, never a pass mark: under a sanitizer, which slows everything
        several times over, it is ten times as long. */
    bool runUntil (const std::function<bool()>& condition, int timeoutMs);

    /** How many times longer this build runs than a plain one, at most: 10
        under a sanitizer, otherwise 1. For the safety nets of tests. */
    constexpr int slowdown =
       #if defined (__SANITIZE_ADDRESS__) || defined (__SANITIZE_THREAD__)
        10;
       #else
        1;
       #endif

    /** Runs the message loop for the given time, delivering whatever is posted. */
    void runFor (int milliseconds);

    /** Delivers everything posted so far and what that posts in turn, a few
        rounds deep (a combo box's report posts a broadcast, which posts nothing
        further). Messages are delivered in the order they were posted, so a
        marker posted behind them arrives after them. */
    void deliverPending();
}
