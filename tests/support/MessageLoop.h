#pragma once

#include <juce_events/juce_events.h>
#include <functional>

namespace MessageLoop
{
    /** Runs the message loop on the calling (message) thread until the condition
        holds or the time-out passes; returns whether the condition held. */
    bool runUntil (const std::function<bool()>& condition, int timeoutMs);

    /** Runs the message loop for the given time, delivering whatever is posted. */
    void runFor (int milliseconds);
}
