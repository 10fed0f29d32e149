/*  The upload's framing under libFuzzer: every input is an image, which the
    real upload loop sends through a recording interface. Whatever the bytes,
    the upload must stay inside the image (the sanitizers catch any read past
    it), end, and send exactly the complete messages that come before any
    damage, in place, then publish the end and the status line that fit the
    image.

    The pacing wait returns at once here (InstantPacingClock.cpp), and the
    upload runs on the fuzzer's own thread.
*/

#include "upload/BasicSysexProtocolClass.h"
#include "Expected.h"
#include "RecordingInterface.h"

#include <juce_cryptography/juce_cryptography.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace
{
    // Read once: every input meets them.
    const juce::String& completeText()
    {
        static const auto text = Expected::text ("status.complete");
        return text;
    }

    const juce::String& emptyText()
    {
        static const auto text = Expected::text ("status.imageEmpty");
        return text;
    }

    juce::String getDamageText (size_t offset)
    {
        return Expected::text ("status.imageDamaged", { { "offset", juce::String (static_cast<juce::int64> (offset)) } });
    }

    //==============================================================================
    /** What the upload must do with an image, framed here on its own terms: a
        message runs from a 0xF0 to the first 0xF7 after it, the next one starts
        right behind it, and the image is damaged at the first place where a
        message should start but either no 0xF0 is there or no 0xF7 follows it. */
    struct ExpectedUpload
    {
        struct Message
        {
            const juce::uint8* start;
            size_t length;
        };

        std::vector<Message> messages;
        juce::String finalStatus;
    };

    ExpectedUpload frameImage (const juce::uint8* image, size_t size)
    {
        ExpectedUpload expected;

        if (size == 0)
        {
            expected.finalStatus = emptyText();
            return expected;
        }

        for (size_t start = 0; start < size;)
        {
            auto end = start + 1;

            while (end < size && image[end] != 0xf7)
                ++end;

            if (image[start] != 0xf0 || end == size)
            {
                expected.finalStatus = getDamageText (start);
                return expected;
            }

            expected.messages.push_back ({ image + start, end + 1 - start });
            start = end + 1;
        }

        expected.finalStatus = completeText();
        return expected;
    }

    //==============================================================================
    [[noreturn]] void fail (const juce::String& what)
    {
        std::fprintf (stderr, "\nUpload framing: %s\n", what.toRawUTF8());
        std::abort();
    }

    void checkUpload (const ExpectedUpload& expected, const juce::uint8* image,
                      const RecordingInterface& interface, const juce::String& finalStatus, double finalProgress,
                      ProgressClass::UploadState finalState)
    {
        if (finalStatus != expected.finalStatus)
            fail ("final status \"" + finalStatus + "\", expected \"" + expected.finalStatus + "\"");

        const auto messages = interface.getMessages();

        if (messages.size() != expected.messages.size())
            fail (juce::String (messages.size()) + " messages sent, expected " + juce::String (expected.messages.size()));

        for (size_t i = 0; i < messages.size(); ++i)
        {
            const auto& sent = messages[i];
            const auto& wanted = expected.messages[i];

            // The upload sends in place: a message from anywhere else is a copy.
            if (sent.source != wanted.start)
                fail ("message " + juce::String (i) + " sent from " + juce::String::toHexString (reinterpret_cast<juce::pointer_sized_int> (sent.source))
                        + ", expected offset " + juce::String (wanted.start - image) + " of the image");

            if (sent.bytes.size() != wanted.length)
                fail ("message " + juce::String (i) + " sent with " + juce::String (sent.bytes.size())
                        + " bytes, expected " + juce::String (wanted.length));
        }

        // Every upload publishes its end, so that the window gives the controls
        // back; the protocol itself never touches the interface component.
        using Event = RecordingInterface::Event;

        if (interface.getEvents() != std::vector<Event> (expected.messages.size(), Event::send))
            fail ("the upload touched the interface component");

        const auto wantedEnd = expected.finalStatus == completeText() ? ProgressClass::UploadState::complete
                                                                      : ProgressClass::UploadState::imageFailed;

        if (finalState != wantedEnd)
            fail ("the upload ended in state " + juce::String ((int) finalState));

        if (expected.finalStatus == completeText() && finalProgress != 1.0)
            fail ("a complete upload published progress " + juce::String (finalProgress));
    }
}

//==============================================================================
// libFuzzer's entry points.
extern "C" int LLVMFuzzerInitialize (int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    // Makes this thread, on which every input runs, the message thread.
    static const juce::ScopedJuceInitialiser_GUI juceOnThisThread;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    // An exactly sized heap copy: a read one byte past the image is caught.
    const std::unique_ptr<juce::uint8[]> image (new juce::uint8[size]);
    std::copy (data, data + size, image.get());

    const auto expected = frameImage (image.get(), size);

    FirmwareImageClass record ("Fuzzed image", "0.0.00 Build 0", 0);
    record.streamData = image.get();
    record.streamSize = static_cast<juce::int64> (size);
    record.streamSha256 = juce::SHA256 (image.get(), size).toHexString();
    record.fixedPacing = 1;

    RecordingInterface interface;
    juce::String finalStatus;
    double finalProgress;
    ProgressClass::UploadState finalState;

    {
        // The upload loop itself, called on this thread rather than started on
        // a thread of its own: nothing to wait for between inputs.
        BasicSysexProtocolClass protocol (&interface, &record);
        protocol.run();
        finalStatus = protocol.getStatusText();
        finalProgress = protocol.progress.load();
        finalState = protocol.getUploadState();
    }

    checkUpload (expected, image.get(), interface, finalStatus, finalProgress, finalState);
    return 0;
}
