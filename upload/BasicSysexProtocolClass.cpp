#include "upload/BasicSysexProtocolClass.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace
{
    const char* const uploadingText = "Uploading firmware";
    const char* const completeText  = "Wait: all LEDs will turn orange, red, orange, then off when complete.";

    /** Length of the SysEx message at start, from its 0xF0 through the first 0xF7,
        or 0 if no complete message starts there before end. Never reads at or
        past end. The length goes to the interface as an int, so a longer
        message counts as incomplete. */
    juce::uint32 getMessageLength (const juce::uint8* start, const juce::uint8* end) noexcept
    {
        if (start >= end || *start != 0xf0)
            return 0;

        const auto length = std::min<std::ptrdiff_t> (end - start, std::numeric_limits<int>::max());
        const auto* const endOfExclusive = static_cast<const juce::uint8*> (std::memchr (start + 1, 0xf7,
                                                                                         static_cast<size_t> (length - 1)));

        if (endOfExclusive == nullptr)
            return 0;

        return static_cast<juce::uint32> (endOfExclusive - start + 1);
    }
}

//==============================================================================
BasicSysexProtocolClass::BasicSysexProtocolClass (InterfaceBaseClass* midiInterfaceToUse,
                                                  FirmwareImageClass* firmwareImageToUse)
    : ProtocolBaseClass (midiInterfaceToUse, firmwareImageToUse),
      ZentrikTime(),
      uploadProgress (0.0),
      readPosition (nullptr),
      lastSendTime (0)
{
}

BasicSysexProtocolClass::~BasicSysexProtocolClass()
{
    stopThread (2000);
}

//==============================================================================
void BasicSysexProtocolClass::startProtocol()
{
    if (! isThreadRunning())
    {
        {
            const juce::ScopedLock sl (protocolLock);
            uploadProgress = 0.0;
            setProgress (0.0);
        }

        // JUCE's default priority (5 on the scale JUCE used before version 7).
        startThread (juce::Thread::Priority::normal);
        return;
    }

    const juce::ScopedLock sl (protocolLock);

    if (uploadProgress == 1.0)
    {
        uploadProgress = 0.0;
        setProgress (0.0);
    }
}

//==============================================================================
void BasicSysexProtocolClass::run()
{
    // Announcing.
    const auto* const imageStart = firmwareImage->streamData;
    const auto imageSize = firmwareImage->streamSize;
    readPosition = imageStart;

    if (imageStart == nullptr || imageSize <= 0)
    {
        finishUpload ("Firmware image empty: upload stopped");
        return;
    }

    // Positions and counts are unsigned 32-bit.
    if (imageSize > std::numeric_limits<juce::uint32>::max())
    {
        finishUpload ("Firmware image too large: upload stopped");
        return;
    }

    const auto total = static_cast<juce::uint32> (imageSize);
    const auto* const imageEnd = imageStart + total;
    const auto* messageStart = readPosition;
    juce::uint32 sent = 0;

    setStatusText (uploadingText);

    double fraction;

    {
        const juce::ScopedLock sl (protocolLock);
        fraction = uploadProgress;
    }

    // Sending, one message per pass.
    while (fraction != 1.0)
    {
        if (threadShouldExit())
            break;

        // Before every message: the window enables the selector when the
        // published progress reaches 1.0, while the last messages still go out.
        // Gives up only when asked to exit.
        if (! callWithMessageThreadLocked ([this] { midiInterface->setEnabled (false); }))
            break;

        const auto count = getMessageLength (messageStart, imageEnd);

        if (count == 0)
        {
            // Nothing past the damage is sent. The progress goes back to 0, as
            // before an upload, and ending the upload enables the selector
            // again, so the user can choose a device and start anew.
            {
                const juce::ScopedLock sl (protocolLock);
                uploadProgress = 0.0;
            }

            setProgress (0.0);
            finishUpload ("Firmware image damaged at byte "
                            + juce::String (static_cast<juce::int64> (messageStart - imageStart))
                            + ": upload stopped");
            return;
        }

        readPosition = messageStart + count;

        // The stamp of the millisecond counter is kept, but the interval is
        // paced on the steady clock, whose finer resolution makes the minimum
        // hold in real time rather than in counter ticks.
        lastSendTime = getTimeStamp();
        const auto sendStart = getFineTimeStamp();

        midiInterface->sendBytes (messageStart, static_cast<int> (count));

        const auto sendEnd = getFineTimeStamp();
        const auto limit = getPacingLimit (count, firmwareImage->fixedPacing);

        // The driver takes the message at some moment of the send. A send that
        // lasted the whole interval (a slow driver transmitting) is followed at
        // once. A shorter one may have been held up before the driver took the
        // message (the scheduler preempting this thread, a lock in the driver),
        // and counting its interval from the start would bring the next message
        // closer than the limit as the driver sees it; so its interval is
        // counted from its end, whatever the hold-up was.
        const auto intervalStart = sendEnd - sendStart >= std::chrono::milliseconds (limit) ? sendStart : sendEnd;

        waitUntilElapsed (intervalStart, limit);

        messageStart = readPosition;
        sent += count;
        fraction = static_cast<double> (sent) / static_cast<double> (total);

        // Waits for the message thread when the hundredth changes; if asked to
        // exit meanwhile it gives up, and the next look at the exit request
        // abandons the upload.
        setProgress (fraction);

        const juce::ScopedLock sl (protocolLock);
        uploadProgress = fraction;
    }

    // Abandoned: the object is being destroyed. Nothing more is published and
    // the selector stays disabled.
    if (threadShouldExit())
        return;

    // Finishing.
    finishUpload (completeText);
}

void BasicSysexProtocolClass::finishUpload (const juce::String& finalStatus)
{
    setStatusText (finalStatus);
    readPosition = firmwareImage->streamData;
    callWithMessageThreadLocked ([this] { midiInterface->setEnabled (true); });
}

//==============================================================================
juce::uint32 BasicSysexProtocolClass::getPacingLimit (juce::uint32 messageLength, juce::int32 fixedPacing) noexcept
{
    return fixedPacing != 0 ? 15u : messageLength / 3 + 10;
}
