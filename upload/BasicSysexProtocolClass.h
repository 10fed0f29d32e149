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
    followed at once. After every message it
    publishes the fraction of the image sent; it disables the device interface
    component (the output selector) before every message and enables it again
    at the end.

    The transfer is open-loop: nothing is read back, acknowledged or repeated.

    An image that is empty, longer than 2^32 bytes or not a gapless sequence of
    complete messages stops the upload where the damage lies, with a status line
    that says so; the messages before it have gone out, nothing after it does.

    Threads: construction, startProtocol() and destruction on the message
    thread; run() on the protocol thread. Destroying the object stops an upload
    at the next message boundary, and waits at most 2000 ms for that.
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

    /** Starts an upload unless one is running, publishing progress 0.0 first.
        While one runs, only an upload that has reached exactly 1.0 is reset to
        0.0, and nothing is restarted. Called on the message thread. */
    void startProtocol() override;

    //==============================================================================
    /** The least time in milliseconds from the start of one send to the start of
        the next, for a message of this many bytes: 15 with fixed pacing,
        otherwise a third of the length (rounded down) plus 10. */
    static juce::uint32 getPacingLimit (juce::uint32 messageLength, juce::int32 fixedPacing) noexcept;

private:
    //==============================================================================
    void finishUpload (const juce::String& finalStatus);

    // Exact fraction of the image handed to the interface; guarded by protocolLock.
    double uploadProgress;
    juce::CriticalSection protocolLock;

    // Touched only by the protocol thread while it runs.
    const juce::uint8* readPosition;
    juce::uint32 lastSendTime;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BasicSysexProtocolClass)
};
