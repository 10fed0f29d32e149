#pragma once

#include <juce_events/juce_events.h>
#include <atomic>

//==============================================================================
/**
    The progress source of an upload: the published fraction of the image sent,
    in hundredths, a status line and the state of the upload, with a change
    notification after each change.

    Every protocol object is its own progress source (this is its second base),
    so the window subscribes to the protocol object itself. Notifications are
    JUCE's asynchronous, coalescing change messages: a listener takes each one as
    a sign that something changed and re-reads every value. A value is always
    stored before the notification for it is posted, so the last notification
    shows the last values.

    Publishing never waits for the message thread: posting a change message only
    queues it. So the protocol thread can always be stopped from the message
    thread, and the message thread is never needed for an upload to go on.

    Threads: the setters are called on the protocol thread, and on the message
    thread when an upload is started; the getters and the listener callbacks on
    the message thread.
*/
class ProgressClass  : public juce::ChangeBroadcaster
{
public:
    /** Where an upload stands. The window keeps the output selector and the
        update button disabled while it is uploading; the other states are ends. */
    enum class UploadState
    {
        idle,           ///< no upload has run yet
        uploading,      ///< started, and not yet ended
        complete,       ///< every message was handed over and the device was still there
        imageFailed,    ///< the image could not be sent as it is: nothing past the fault went out
        deviceFailed    ///< the device went away, refused a message or stopped responding
    };

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

    /** Publishes the state of the upload and notifies the listeners, unless it is
        the one already published. */
    void setUploadState (UploadState newState);

    UploadState getUploadState() const noexcept     { return uploadState.load(); }

    //==============================================================================
    /** The published fraction, 0.0 to 1.0, always a whole number of hundredths.
        Atomic because the protocol thread writes it while the message thread
        reads it. */
    std::atomic<double> progress { 0.0 };

private:
    //==============================================================================
    // A juce::String copy is not safe against an assignment made at the same
    // moment on another thread (the copy may take a reference to the text the
    // assignment has just released), so both sides hold this lock for the swap.
    mutable juce::SpinLock statusTextLock;
    juce::String statusText;

    std::atomic<UploadState> uploadState { UploadState::idle };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProgressClass)
};
