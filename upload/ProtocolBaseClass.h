#pragma once

#include "upload/ProgressClass.h"
#include "midi/InterfaceBaseClass.h"
#include "firmware/FirmwareImageClass.h"

//==============================================================================
/**
    The base of the firmware upload protocols: a worker thread named
    "Protocol Thread" that is also the upload's progress source, and the two
    things every protocol works with, the device interface it sends through and
    the firmware image it sends.

    A derived class supplies the thread body (run) and stops the thread in its
    own destructor. The interface and the image record must outlive the
    protocol object; it only uses them.

    Threads: construction, startProtocol() and destruction on the message
    thread; run() on the protocol thread.
*/
class ProtocolBaseClass  : public juce::Thread,
                           public ProgressClass
{
public:
    /** Starts nothing. */
    ProtocolBaseClass (InterfaceBaseClass* midiInterfaceToUse, FirmwareImageClass* firmwareImageToUse);

    ~ProtocolBaseClass() override;

    /** The protocol's work, supplied by the derived class. Called on the protocol thread. */
    void run() override = 0;

    /** Starts an upload if the thread is not running, publishing progress 0.0
        and the uploading state first; otherwise does nothing. This default runs
        the thread one step below the normal priority. */
    virtual void startProtocol();

protected:
    /** Publishes progress 0.0 and the uploading state, then starts the thread
        at this priority; publishes idle if it cannot start. Called on the
        message thread. */
    void startUpload (juce::Thread::Priority threadPriority);

    /** True on the protocol thread: what the functions that only it may call
        assert. */
    bool isProtocolThread() const noexcept      { return getThreadId() == juce::Thread::getCurrentThreadId(); }

    //==============================================================================
    InterfaceBaseClass* const midiInterface;
    FirmwareImageClass* const firmwareImage;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProtocolBaseClass)
};
