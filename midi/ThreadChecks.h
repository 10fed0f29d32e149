#pragma once

#include <juce_events/juce_events.h>

/** Asserts, where assertions are on (Debug and the sanitizer builds), that the
    caller is not the message thread: the call may wait on a device, which the
    message thread must never do. Written for the functions that the protocol
    thread calls; the message thread's own are checked by
    JUCE_ASSERT_MESSAGE_THREAD. */
#define QUILLET_ASSERT_NOT_MESSAGE_THREAD \
    jassert (! juce::MessageManager::existsAndIsCurrentThread())
