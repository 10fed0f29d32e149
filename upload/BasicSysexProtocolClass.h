#pragma once

#include "upload/ProtocolBaseClass.h"
#include "upload/ZentrikTime.h"

//==============================================================================
/**
    The upload protocol: walks the firmware image, a gapless sequence of SysEx
    messages, and hands the messages one at a time, unchanged and in place, to
    the device interface, paced so that at least a fixed or length-dependent
    interval lies between the starts of two sends. A send shorter than that
    interval counts it from its end instead, because the driver may have taken
    the message late in the send; a send that lasted the whole interval is
    followed at once. After every message it publishes the fraction of the
    image sent, and at the end a final status and the state the upload ended
    in.

    A message counts as sent once the device has taken it; the status names
    only such messages, and the upload is complete once the device has taken
    the last one, even if it leaves at once to restart. It fails rather than
    reports success when a message was not taken (the interface says why), or,
    where the interface can only say that the system took the message, when
    the device has left: after every such message, within its interval, it
    asks whether the chosen output is still there. The copy of the image must
    also match the digest recorded for it. Then the upload stops at once,
    sends nothing more, leaves the published progress where it was and says
    what happened.

    The upload never waits for the message thread: it only publishes, and the
    window follows what it publishes (it keeps the output selector disabled
    from the start of an upload until its end is published).

    An image that is empty, longer than 2^32 bytes or not a gapless sequence of
    complete messages stops the upload where the damage lies, with a status line
    that says so; the messages before it have gone out, nothing after it does.

    Threads: construction, startProtocol() and destruction on the message
    thread; run() on the protocol thread. Asking the thread to exit stops an
    upload at the next message boundary, so destroying the object waits at most
    one send and its interval (and never more than 2000 ms).
*/
class BasicSysexProtocolClass  : public ProtocolBaseClass,
                                 public ZentrikTime
{
public:
    /** Starts nothing. The interface and the image record must outlive this object. */
    BasicSysexProtocolClass (InterfaceBaseClass* midiInterfaceToUse, FirmwareImageClass* firmwareImageToUse);

    /** Stops a running upload, waiting up to 2000 ms for its thread. */
    ~BasicSysexProtocolClass() override;

    /** One upload of the whole image. Called on the protocol thread. */
    void run() override;

    /** Starts an upload from the first message, publishing progress 0.0 and the
        uploading state first. A start while an upload runs is ignored; one that
        comes while the thread of an upload that has published its end is still
        returning waits for that thread first. Called on the message thread. */
    void startProtocol() override;

    //==============================================================================
    /** The least time in milliseconds from the start of one send to the start of
        the next, for a message of this many bytes: 15 with fixed pacing,
        otherwise a third of the length (rounded down) plus 10. */
    static juce::uint32 getPacingLimit (juce::uint32 messageLength, juce::int32 fixedPacing) noexcept;

private:
    //==============================================================================
    bool checkImage();
    juce::uint32 frameNextMessage() const noexcept;
    bool sendAndPace (juce::uint32 messageLength);
    bool checkDeviceIsPresent();
    void stopOnFailedSend (const SendResult& result);
    void publishProgress();
    void finishUpload (UploadState endState, const juce::String& finalStatus);

    // Touched only by the protocol thread while it runs.
    const juce::uint8* readPosition;
    const juce::uint8* imageEnd = nullptr;
    juce::uint32 imageSize = 0;
    juce::uint32 bytesSent = 0;
    int numMessages = 0;
    int messagesSent = 0;
    juce::uint32 lastSendTime;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BasicSysexProtocolClass)
};
