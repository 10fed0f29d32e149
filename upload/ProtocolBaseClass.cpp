#include "upload/ProtocolBaseClass.h"

ProtocolBaseClass::ProtocolBaseClass (InterfaceBaseClass* midiInterfaceToUse, FirmwareImageClass* firmwareImageToUse)
    : juce::Thread ("Protocol Thread"),
      midiInterface (midiInterfaceToUse),
      firmwareImage (firmwareImageToUse)
{
}

ProtocolBaseClass::~ProtocolBaseClass() = default;

void ProtocolBaseClass::startProtocol()
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (! isThreadRunning())
    {
        // JUCE 7 replaced the old priority scale of 0 to 10, on which the default
        // was 5 and this start used 4, by Thread::Priority. Priority::normal is the
        // old 5; the old 4 (Windows' below-normal) has no exact equivalent, and
        // Priority::low is the nearest step below normal.
        //
        // Only the message thread starts the thread, so nothing can have started
        // it since the test above; if it had, startThread would leave it as it is.
        startUpload (juce::Thread::Priority::low);
    }
}

void ProtocolBaseClass::startUpload (juce::Thread::Priority threadPriority)
{
    JUCE_ASSERT_MESSAGE_THREAD

    setProgress (0.0);
    setUploadState (UploadState::uploading);

    if (! startThread (threadPriority))
        setUploadState (UploadState::idle);
}
