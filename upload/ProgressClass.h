#pragma once

#include <juce_events/juce_events.h>
#include <atomic>
#include <chrono>
#include <cstdint>

//==============================================================================
/**
    The progress source of an upload: the published fraction of the image sent,
    in hundredths, and a status line, with a change notification after each
    change of either.

    Every protocol object is its own progress source (this is its second base),
    so the window subscribes to the protocol object itself. Notifications are
    JUCE's asynchronous, coalescing change messages: a listener takes each one as
    a sign that something changed and re-reads both values.

    Threads: setProgress() is called on the protocol thread after every message
    and on the message thread when an upload is started; setStatusText() on the
    protocol thread; getStatusText(), the reads of progress and the listener
    callbacks on the message thread.

    Waiting for the message thread: setProgress() holds the message-thread lock
    while it posts. A caller that is a JUCE thread stops waiting for that lock as
    soon as it is asked to exit, and then posts nothing, because the message
    thread may be the one waiting for it to end (a protocol being destroyed stops
    its thread from the message thread). callWithMessageThreadLocked() gives
    derived classes the same kind of wait.
*/
class ProgressClass  : public juce::ChangeBroadcaster
{
public:
    ProgressClass();
    ~ProgressClass() override;

    //==============================================================================
    /** Publishes the fraction rounded to the nearest hundredth (an exact half to
        the even neighbour) and notifies the listeners, but only if that changes
        the published value. */
    void setProgress (double fraction);

    /** Publishes a new status line and notifies the listeners, unless the text is
        the one already published. */
    void setStatusText (juce::String text);

    /** The status line last published; empty until the first one. */
    juce::String getStatusText() const;

    /** The longest time a caller of this object waited for the message-thread
        lock since construction. For diagnostics. */
    std::chrono::nanoseconds getLongestMessageThreadWait() const noexcept;

    //==============================================================================
    /** The published fraction, 0.0 to 1.0, always a whole number of hundredths.
        Stored before the notification for it is posted. Atomic because the
        protocol thread writes it while the message thread reads it. */
    std::atomic<double> progress { 0.0 };

protected:
    //==============================================================================
    /** Calls the function while holding the message-thread lock, and returns true.
        On a JUCE thread that is asked to exit while it waits for the lock, gives
        up, calls nothing and returns false. */
    template <typename Function>
    bool callWithMessageThreadLocked (Function&& function)
    {
        const auto waitStart = std::chrono::steady_clock::now();
        const juce::MessageManagerLock lock (juce::Thread::getCurrentThread());
        noteMessageThreadWait (std::chrono::steady_clock::now() - waitStart);

        if (! lock.lockWasGained())
            return false;

        function();
        return true;
    }

private:
    //==============================================================================
    void noteMessageThreadWait (std::chrono::nanoseconds wait) noexcept;

    // A juce::String copy is not safe against an assignment made at the same
    // moment on another thread (the copy may take a reference to the text the
    // assignment has just released), so both sides hold this lock for the swap.
    mutable juce::SpinLock statusTextLock;
    juce::String statusText;

    std::atomic<std::int64_t> longestMessageThreadWaitNs { 0 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProgressClass)
};
