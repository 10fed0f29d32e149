#include "upload/BasicSysexProtocolClass.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <thread>

namespace
{
    using FineClock = std::chrono::steady_clock;

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

    /** Returns once the deadline has passed on the steady clock. The first look
        comes before any sleep, so a send that took the whole interval is followed
        at once. Sleeps last 2 ms at most, and the last one only as long as
        remains, so the next message starts within a fraction of a millisecond of
        the interval's end (JUCE's Thread::sleep knows whole milliseconds only). */
    void waitUntil (FineClock::time_point deadline)
    {
        for (auto now = FineClock::now(); now < deadline; now = FineClock::now())
            std::this_thread::sleep_for (std::min<FineClock::duration> (deadline - now, std::chrono::milliseconds (2)));
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
            // Nothing past the damage is sent. Ending the upload enables the
            // selector again, so the user can choose a device and start anew.
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
        const auto sendStart = FineClock::now();

        midiInterface->sendBytes (messageStart, static_cast<int> (count));

        waitUntil (sendStart + std::chrono::milliseconds (getPacingLimit (count, firmwareImage->fixedPacing)));

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
