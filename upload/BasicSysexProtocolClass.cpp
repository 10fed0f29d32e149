#include "upload/BasicSysexProtocolClass.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace
{
    const char* const uploadingText = "Uploading firmware";
    const char* const completeText  = "Wait: all LEDs will turn orange, red, orange, then off when complete.";
    // Short enough for the status line: the pedal is not updated, and Help
    // tells how to put it into its update mode again.
    const char* const notUpdatedText = ": not updated, see Help";

    /** A count as the status line shows it: 3065 as "3,065". */
    juce::String formatCount (int count)
    {
        auto text = juce::String (count);

        for (auto i = text.length() - 3; i > 0; i -= 3)
            text = text.substring (0, i) + "," + text.substring (i);

        return text;
    }
}

//==============================================================================
BasicSysexProtocolClass::BasicSysexProtocolClass (InterfaceBaseClass* midiInterfaceToUse,
                                                  FirmwareImageClass* firmwareImageToUse)
    : ProtocolBaseClass (midiInterfaceToUse, firmwareImageToUse),
      ZentrikTime(),
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
    if (isThreadRunning())
    {
        if (getUploadState() == UploadState::uploading)
            return;

        // The last upload has published its end and is only returning.
        if (! waitForThreadToExit (1000))
            return;
    }

    // JUCE's default priority (5 on the scale JUCE used before version 7).
    startUpload (juce::Thread::Priority::normal);
}

//==============================================================================
void BasicSysexProtocolClass::run()
{
    if (! checkImage() || ! checkDeviceIsPresent())
        return;

    while (bytesSent < imageSize)
    {
        // Abandoned: the window is closing or this object is being destroyed.
        // Nothing more is sent or published.
        if (threadShouldExit())
            return;

        const auto messageLength = frameNextMessage();

        if (messageLength == 0)
        {
            // Nothing past the damage is sent, and the progress goes back to 0,
            // as before an upload.
            setProgress (0.0);
            finishUpload (UploadState::imageFailed,
                          "Firmware image damaged at byte "
                              + juce::String (static_cast<juce::int64> (readPosition - firmwareImage->streamData))
                              + ": upload stopped");
            return;
        }

        if (! sendAndPace (messageLength))
            return;

        publishProgress();
    }

    finishUpload (UploadState::complete, completeText);
}

/** Takes the image's measures, or ends the upload when there is nothing to send,
    too much to count in 32 bits, or a copy other than the one that was built. */
bool BasicSysexProtocolClass::checkImage()
{
    const auto* const imageStart = firmwareImage->streamData;
    const auto size = firmwareImage->streamSize;

    readPosition = imageStart;
    bytesSent = 0;
    messagesSent = 0;

    if (imageStart == nullptr || size <= 0)
    {
        finishUpload (UploadState::imageFailed, "Firmware image empty: upload stopped");
        return false;
    }

    if (size > std::numeric_limits<juce::uint32>::max())
    {
        finishUpload (UploadState::imageFailed, "Firmware image too large: upload stopped");
        return false;
    }

    setStatusText (uploadingText);

    if (! firmwareImage->streamMatchesItsDigest())
    {
        finishUpload (UploadState::imageFailed,
                      "Program file damaged: download the updater again. Nothing was sent.");
        return false;
    }

    imageSize = static_cast<juce::uint32> (size);
    imageEnd = imageStart + imageSize;

    // The status line counts in messages; a damaged image counts those before the damage.
    numMessages = 0;

    for (juce::uint32 length; (length = frameNextMessage()) != 0; readPosition += length)
        ++numMessages;

    readPosition = imageStart;
    return true;
}

/** The length of the SysEx message at the read position, from its 0xF0 through
    the first 0xF7, or 0 if no complete message starts there before the end of
    the image. Never reads at or past the end. The length goes to the interface
    as an int, so a longer message counts as incomplete. */
juce::uint32 BasicSysexProtocolClass::frameNextMessage() const noexcept
{
    if (readPosition >= imageEnd || *readPosition != 0xf0)
        return 0;

    const auto available = std::min<std::ptrdiff_t> (imageEnd - readPosition, std::numeric_limits<int>::max());
    const auto* const endOfExclusive = static_cast<const juce::uint8*> (std::memchr (readPosition + 1, 0xf7,
                                                                                     static_cast<size_t> (available - 1)));

    if (endOfExclusive == nullptr)
        return 0;

    return static_cast<juce::uint32> (endOfExclusive - readPosition + 1);
}

bool BasicSysexProtocolClass::sendAndPace (juce::uint32 messageLength)
{
    // The stamp of the millisecond counter is kept, but the interval is paced
    // on the steady clock, whose finer resolution makes the minimum hold in
    // real time rather than in counter ticks.
    lastSendTime = getTimeStamp();
    const auto sendStart = getFineTimeStamp();

    const auto result = midiInterface->sendBytes (readPosition, static_cast<int> (messageLength));

    const auto sendEnd = getFineTimeStamp();

    if (! result.wasSent())
    {
        // A send cut short because the thread is to end: the upload is being
        // abandoned, and says nothing more.
        if (! threadShouldExit())
            stopOnFailedSend (result);

        return false;
    }

    readPosition += messageLength;
    bytesSent += messageLength;
    ++messagesSent;

    // A message the device has taken is the device's, whatever becomes of the
    // device afterwards: a pedal restarts as soon as it has the last one, and
    // one that goes earlier fails the next send. Where the back end cannot
    // tell, the device is looked for instead, within the interval: a device
    // that went is caught at the message it went with.
    if (result.status == SendResult::Status::handedOver && ! checkDeviceIsPresent())
        return false;

    const auto limit = getPacingLimit (messageLength, firmwareImage->fixedPacing);

    // A back end that waits until the message has left knows when the device
    // began to take it, and the interval runs from there: a pedal that drains
    // fast is paced at the limit, a slow one at its own speed. Otherwise the
    // driver takes the message at some moment of the send. A send that lasted
    // the whole interval (a slow driver transmitting) is followed at once. A
    // shorter one may have been held up before the driver took the message
    // (the scheduler preempting this thread, a lock in the driver), and
    // counting its interval from the start would bring the next message closer
    // than the limit as the driver sees it; so its interval is counted from its
    // end, whatever the hold-up was.
    const auto intervalStart = result.handedOverAt.value_or (sendEnd - sendStart >= std::chrono::milliseconds (limit) ? sendStart
                                                                                                                     : sendEnd);

    waitUntilElapsed (intervalStart, limit);
    return true;
}

/** Ends the upload if the chosen device has left the system's list. */
bool BasicSysexProtocolClass::checkDeviceIsPresent()
{
    if (midiInterface->isOutputPresent())
        return true;

    publishProgress();
    finishUpload (UploadState::deviceFailed,
                  "Pedal disconnected after message " + formatCount (messagesSent)
                      + " of " + formatCount (numMessages) + notUpdatedText);
    return false;
}

/** A send that failed because the device has gone says so: that is what the
    user needs to know, and what a write to a pulled-out device reports first. */
void BasicSysexProtocolClass::stopOnFailedSend (const SendResult& result)
{
    if (result.status == SendResult::Status::failed && ! checkDeviceIsPresent())
        return;

    const auto ofAll = " of " + formatCount (numMessages);

    finishUpload (UploadState::deviceFailed,
                  result.status == SendResult::Status::timedOut
                      ? "Pedal stopped responding after message " + formatCount (messagesSent) + ofAll + notUpdatedText
                      : "Message " + formatCount (messagesSent + 1) + ofAll + " could not be sent" + notUpdatedText);
}

void BasicSysexProtocolClass::publishProgress()
{
    setProgress (static_cast<double> (bytesSent) / static_cast<double> (imageSize));
}

/** The status goes out before the state, so a window that sees the end already
    has the text that explains it. */
void BasicSysexProtocolClass::finishUpload (UploadState endState, const juce::String& finalStatus)
{
    setStatusText (finalStatus);
    readPosition = firmwareImage->streamData;
    setUploadState (endState);
}

//==============================================================================
juce::uint32 BasicSysexProtocolClass::getPacingLimit (juce::uint32 messageLength, juce::int32 fixedPacing) noexcept
{
    return fixedPacing != 0 ? 15u : messageLength / 3 + 10;
}
