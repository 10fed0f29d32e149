#include "upload/BasicSysexProtocolClass.h"
#include "RecordingInterface.h"
#include "TestImage.h"
#include "ProgressRecorder.h"
#include "Expected.h"
#include "MessageLoop.h"

#include <gtest/gtest.h>
#include <juce_cryptography/juce_cryptography.h>

#include <algorithm>
#include <array>
#include <cmath>

using namespace std::chrono_literals;

namespace
{
    using Clock = std::chrono::steady_clock;
    using Event = RecordingInterface::Event;

    std::vector<juce::uint8> concatenate (std::initializer_list<std::vector<juce::uint8>> parts)
    {
        std::vector<juce::uint8> bytes;

        for (const auto& part : parts)
            bytes.insert (bytes.end(), part.begin(), part.end());

        return bytes;
    }

    //==============================================================================
    class UploadTest  : public testing::Test
    {
    protected:
        /** A protocol over a well-formed image of messages of these lengths. */
        void prepare (const std::vector<int>& lengths, juce::int32 fixedPacing = 1)
        {
            protocol.reset();
            image = std::make_unique<TestImage> (lengths, fixedPacing);
            createProtocol();
        }

        /** A protocol over these bytes, whose record claims the given length. */
        void prepareRaw (std::vector<juce::uint8> bytes, juce::int64 claimedSize)
        {
            protocol.reset();
            image = std::make_unique<TestImage> (std::move (bytes), 1);
            image->record.streamSize = claimedSize;
            createProtocol();
        }

        /** Runs the message loop until the upload's thread has ended and the
            notification of its end has arrived. */
        bool runUntilUploadEnds (int timeoutMs = 10000)
        {
            return MessageLoop::runUntil ([this] { return ! protocol->isThreadRunning() && recorder.hasSeenTheEnd(); }, timeoutMs);
        }

        bool runUntilSent (int numMessages)
        {
            return MessageLoop::runUntil ([&] { return interface.getNumMessages() >= numMessages; }, 5000);
        }

        /** Destroys the protocol on the message thread and returns how long that took. */
        Clock::duration destroyProtocol()
        {
            const auto start = Clock::now();
            protocol.reset();
            return Clock::now() - start;
        }

        void expectMessagesAreTheImage (const std::vector<RecordingInterface::Message>& messages) const
        {
            ASSERT_EQ (messages.size(), image->messages.size());

            for (size_t i = 0; i < messages.size(); ++i)
                EXPECT_EQ (messages[i].bytes, image->messages[i]) << "message " << i;
        }

        /** Each send must start 15 ms or more after the start of the one before. */
        static void expectStartsAtLeast15msApart (const std::vector<RecordingInterface::Message>& messages)
        {
            for (size_t i = 1; i < messages.size(); ++i)
                EXPECT_GE (messages[i].sendStart - messages[i - 1].sendStart, 15ms) << "before message " << i;
        }

        const juce::String uploadingText = Expected::text ("status.uploading");
        const juce::String completeText = Expected::text ("status.complete");

        RecordingInterface interface;
        ProgressRecorder recorder;
        std::unique_ptr<TestImage> image;
        std::unique_ptr<BasicSysexProtocolClass> protocol;

    private:
        void createProtocol()
        {
            protocol = std::make_unique<BasicSysexProtocolClass> (&interface, &image->record);
            recorder.entries.clear();
            recorder.listenTo (*protocol, [this] { return interface.getNumMessages(); });
        }
    };
}

//==============================================================================
TEST (BasicSysexProtocolPacing, LimitTable)
{
    EXPECT_EQ (BasicSysexProtocolClass::getPacingLimit (9, 0), 13u);
    EXPECT_EQ (BasicSysexProtocolClass::getPacingLimit (16, 0), 15u);
    EXPECT_EQ (BasicSysexProtocolClass::getPacingLimit (4009, 0), 1346u);
    EXPECT_EQ (BasicSysexProtocolClass::getPacingLimit (2, 0), 10u);

    for (const auto length : { 2u, 9u, 16u, 4009u })
    {
        EXPECT_EQ (BasicSysexProtocolClass::getPacingLimit (length, 1), 15u);
        EXPECT_EQ (BasicSysexProtocolClass::getPacingLimit (length, -1), 15u);
    }
}

TEST_F (UploadTest, FixedPacingKeepsEveryStartAtLeast15msAfterThePrevious)
{
    std::vector<int> lengths { 9, 16, 16, 16, 16, 16 };
    lengths.insert (lengths.end(), 20, 4009);
    lengths.push_back (9);
    prepare (lengths);

    protocol->startProtocol();
    ASSERT_TRUE (runUntilUploadEnds());

    const auto messages = interface.getMessages();
    expectMessagesAreTheImage (messages);
    expectStartsAtLeast15msApart (messages);

    // The final status comes only once the last interval has passed.
    const auto finalEntry = recorder.findStatus (completeText);
    ASSERT_GE (finalEntry, 0);
    EXPECT_GE (recorder.entries[(size_t) finalEntry].time - messages.back().sendStart, 15ms);
}

TEST_F (UploadTest, LengthPacingKeepsEveryStartAtLeastItsLimitAfterThePrevious)
{
    const std::vector<int> lengths { 9, 16, 100, 4009, 9, 9 };
    prepare (lengths, 0);

    protocol->startProtocol();
    ASSERT_TRUE (runUntilUploadEnds());

    const auto messages = interface.getMessages();
    expectMessagesAreTheImage (messages);

    for (size_t i = 1; i < messages.size(); ++i)
    {
        const auto limit = std::chrono::milliseconds (BasicSysexProtocolClass::getPacingLimit ((juce::uint32) lengths[i - 1], 0));
        EXPECT_GE (messages[i].sendStart - messages[i - 1].sendStart, limit) << "before message " << i;
    }

    const auto finalEntry = recorder.findStatus (completeText);
    ASSERT_GE (finalEntry, 0);
    EXPECT_GE (recorder.entries[(size_t) finalEntry].time - messages.back().sendStart, 13ms);
}

TEST_F (UploadTest, ASendLongerThanItsIntervalIsFollowedWithoutWaiting)
{
    prepare (std::vector<int> (12, 16));
    interface.setSendDuration (25ms);

    protocol->startProtocol();
    ASSERT_TRUE (runUntilUploadEnds());

    const auto messages = interface.getMessages();
    ASSERT_EQ (messages.size(), 12u);

    // Waiting out the interval after the send would put 15 ms or more between
    // a send's return and the next send. A median keeps a scheduling hiccup
    // from deciding the outcome.
    std::vector<Clock::duration> pauses;

    for (size_t i = 1; i < messages.size(); ++i)
        pauses.push_back (messages[i].sendStart - messages[i - 1].sendEnd);

    std::nth_element (pauses.begin(), pauses.begin() + (long) pauses.size() / 2, pauses.end());
    EXPECT_LT (pauses[pauses.size() / 2], 10ms);
}

TEST_F (UploadTest, ASendHeldUpBeforeTheDriverTakesTheMessageStillLeavesTheWholeInterval)
{
    // Every other send is held up for 8 ms before the message is taken, as when
    // a busy machine preempts the protocol thread inside the send; the driver
    // must still see 15 ms from one message to the next.
    prepare (std::vector<int> (12, 16));
    interface.setHandOverDelay (8ms);

    protocol->startProtocol();
    ASSERT_TRUE (runUntilUploadEnds());

    const auto messages = interface.getMessages();
    expectMessagesAreTheImage (messages);
    expectStartsAtLeast15msApart (messages);
}

TEST_F (UploadTest, AnAcknowledgedSendIsPacedFromItsHandOverAndNeverBeforeItHasLeft)
{
    // Each message takes 10 ms to leave: it is followed 15 ms after it began,
    // not 15 ms after it left. One that takes 25 ms is followed once it has left.
    for (const auto duration : { 10ms, 25ms })
    {
        prepare (std::vector<int> (12, 16));
        interface.setSendDuration (duration);
        interface.setReportsHandOver (true);
        const auto numBefore = interface.getMessages().size();

        protocol->startProtocol();
        ASSERT_TRUE (runUntilUploadEnds());

        auto messages = interface.getMessages();
        messages.erase (messages.begin(), messages.begin() + (long) numBefore);
        ASSERT_EQ (messages.size(), 12u);
        expectStartsAtLeast15msApart (messages);

        std::vector<Clock::duration> gaps;

        for (size_t i = 1; i < messages.size(); ++i)
        {
            EXPECT_GE (messages[i].sendStart, messages[i - 1].sendEnd) << "before message " << i;
            gaps.push_back (messages[i].sendStart - messages[i - 1].sendStart);
        }

        std::nth_element (gaps.begin(), gaps.begin() + (long) gaps.size() / 2, gaps.end());
        EXPECT_LT (gaps[gaps.size() / 2], std::max (Clock::duration (15ms), Clock::duration (duration)) + 4ms);
    }
}

TEST (BasicSysexProtocolThread, RunsOnTheProtocolThreadAtNormalPriority)
{
    // The priority can only be read from the thread itself, through a derived class.
    struct PriorityProbe  : public BasicSysexProtocolClass
    {
        using BasicSysexProtocolClass::BasicSysexProtocolClass;
        using juce::Thread::getPriority;
    };

    RecordingInterface interface;
    TestImage image { { 9 } };
    PriorityProbe protocol { &interface, &image.record };

    juce::String threadName;
    auto priority = juce::Thread::Priority::background;

    interface.setSendCallback ([&] (int)
    {
        threadName = juce::Thread::getCurrentThread()->getThreadName();
        priority = protocol.getPriority();
    });

    protocol.startProtocol();
    ASSERT_TRUE (MessageLoop::runUntil ([&] { return ! protocol.isThreadRunning(); }, 2000));

    EXPECT_EQ (threadName, "Protocol Thread");
    EXPECT_EQ (priority, juce::Thread::Priority::normal);
}

//==============================================================================
TEST_F (UploadTest, PublishedSequenceOverOneUpload)
{
    prepare ({ 25, 25, 25, 25 });

    protocol->startProtocol();
    ASSERT_TRUE (runUntilUploadEnds());

    const auto messages = interface.getMessages();
    expectMessagesAreTheImage (messages);

    // Statuses in order, the final one only after the last message and its interval.
    std::vector<juce::String> statuses;
    double previousProgress = 0.0;

    for (const auto& entry : recorder.entries)
    {
        // The start's own notification comes before the first status.
        if (entry.status.isNotEmpty() && (statuses.empty() || statuses.back() != entry.status))
            statuses.push_back (entry.status);

        EXPECT_GE (entry.progress, previousProgress);
        EXPECT_EQ (entry.progress * 4.0, std::floor (entry.progress * 4.0)) << entry.progress;
        previousProgress = entry.progress;

        if (entry.status == completeText)
        {
            EXPECT_EQ (entry.progress, 1.0);
            EXPECT_EQ (entry.noted, 4);
            EXPECT_GE (entry.time - messages.back().sendStart, 15ms);
        }
    }

    EXPECT_EQ (statuses, (std::vector<juce::String> { uploadingText, completeText }));
    EXPECT_EQ (recorder.entries.back().progress, 1.0);

    // The end is published last, after the final status; the protocol never
    // touches the interface component (the window does).
    EXPECT_EQ (protocol->getUploadState(), ProgressClass::UploadState::complete);
    EXPECT_EQ (interface.getEvents(), (std::vector<Event> (4, Event::send)));
}

TEST_F (UploadTest, ProgressReachesOneBeforeTheLastMessages)
{
    // 996 of 1000 bytes publish 1.0; two short messages are still to go.
    prepare ({ 996, 2, 2 });

    std::array<std::atomic<double>, 3> progressAtSend {};
    interface.setSendCallback ([&] (int index) { progressAtSend[(size_t) index] = protocol->progress.load(); });

    protocol->startProtocol();
    ASSERT_TRUE (runUntilUploadEnds());

    EXPECT_EQ (progressAtSend[0].load(), 0.0);
    EXPECT_EQ (progressAtSend[1].load(), 1.0);
    EXPECT_EQ (progressAtSend[2].load(), 1.0);

    const auto finalEntry = recorder.findStatus (completeText);
    ASSERT_GE (finalEntry, 0);
    EXPECT_EQ (recorder.entries[(size_t) finalEntry].noted, 3);

    for (int i = 0; i < finalEntry; ++i)
        EXPECT_NE (recorder.entries[(size_t) i].status, completeText);

    ASSERT_GE (finalEntry, 1);
    EXPECT_EQ (recorder.entries[(size_t) finalEntry - 1].progress, 1.0);
}

TEST_F (UploadTest, AtMost101ProgressNotificationsPerUpload)
{
    // 250 messages of 4 bytes: the fraction changes 250 times, the hundredth 100 times.
    prepare (std::vector<int> (250, 4), 0);

    protocol->startProtocol();
    ASSERT_TRUE (runUntilUploadEnds (20000));
    MessageLoop::runFor (50);

    ASSERT_EQ (interface.getNumMessages(), 250);

    // Two of the notifications are the status texts.
    EXPECT_LE (recorder.entries.size(), 101u + 2u);

    std::vector<double> distinct;

    for (const auto& entry : recorder.entries)
    {
        EXPECT_EQ (entry.progress, std::nearbyint (entry.progress * 100.0) / 100.0);

        if (distinct.empty() || distinct.back() != entry.progress)
            distinct.push_back (entry.progress);
    }

    EXPECT_GE (distinct.size(), 90u);
    EXPECT_EQ (distinct.back(), 1.0);
}

//==============================================================================
TEST_F (UploadTest, SecondStartDuringAnUploadChangesNothing)
{
    prepare (std::vector<int> (6, 50));

    protocol->startProtocol();
    ASSERT_TRUE (runUntilSent (2));

    const auto published = protocol->progress.load();
    EXPECT_GT (published, 0.0);

    protocol->startProtocol();
    EXPECT_EQ (protocol->progress.load(), published);

    ASSERT_TRUE (runUntilUploadEnds());
    expectMessagesAreTheImage (interface.getMessages());

    for (size_t i = 1; i < recorder.entries.size(); ++i)
        EXPECT_GE (recorder.entries[i].progress, recorder.entries[i - 1].progress);
}

TEST_F (UploadTest, StartWhileTheEndedUploadsThreadReturnsRunsANewUploadOnceItHasReturned)
{
    // The thread stays a while after publishing the end, as a preempted one
    // can: a start in that moment must neither be lost nor overlap it.
    struct SlowToReturn  : public BasicSysexProtocolClass
    {
        using BasicSysexProtocolClass::BasicSysexProtocolClass;
        ~SlowToReturn() override     { stopThread (2000); }
        void run() override          { BasicSysexProtocolClass::run(); juce::Thread::sleep (200); }
    };

    image = std::make_unique<TestImage> (std::vector<int> { 9, 16, 9 });
    protocol = std::make_unique<SlowToReturn> (&interface, &image->record);

    protocol->startProtocol();
    ASSERT_TRUE (MessageLoop::runUntil ([this] { return protocol->getUploadState() == ProgressClass::UploadState::complete; }, 5000));
    ASSERT_TRUE (protocol->isThreadRunning());

    protocol->startProtocol();
    EXPECT_EQ (protocol->getUploadState(), ProgressClass::UploadState::uploading);
    EXPECT_EQ (protocol->progress.load(), 0.0);

    ASSERT_TRUE (MessageLoop::runUntil ([this] { return protocol->getUploadState() == ProgressClass::UploadState::complete; }, 5000));
    EXPECT_EQ (interface.getNumMessages(), 6);
    EXPECT_EQ (protocol->progress.load(), 1.0);
}

TEST_F (UploadTest, NewUploadAfterTheThreadEndedStartsFromTheFirstMessage)
{
    prepare ({ 9, 16, 9 });

    protocol->startProtocol();
    ASSERT_TRUE (runUntilUploadEnds());
    ASSERT_EQ (protocol->progress.load(), 1.0);
    MessageLoop::runFor (30);
    recorder.entries.clear();

    protocol->startProtocol();
    EXPECT_EQ (protocol->progress.load(), 0.0);
    ASSERT_TRUE (runUntilUploadEnds());
    MessageLoop::runFor (30);

    const auto messages = interface.getMessages();
    ASSERT_EQ (messages.size(), 6u);

    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ (messages[i + 3].bytes, image->messages[i]);
        EXPECT_EQ (messages[i].bytes, image->messages[i]);
    }

    ASSERT_FALSE (recorder.entries.empty());
    EXPECT_EQ (recorder.entries.front().progress, 0.0);

    // The first notification may still show the last upload's final status.
    const auto uploading = recorder.findStatus (uploadingText);
    ASSERT_GE (uploading, 0);
    EXPECT_GT (recorder.findStatus (completeText, (size_t) uploading), uploading);
    EXPECT_EQ (recorder.entries.back().progress, 1.0);
}

//==============================================================================
// The upload never waits for the message thread: it goes on while the message
// loop does not run (as while the window's close button waits for it), and a
// destruction from the message thread stops it at the next message boundary.

TEST_F (UploadTest, GoesOnWithoutTheMessageLoopAndStopsAtTheNextBoundaryWhenDestroyed)
{
    prepare (std::vector<int> (1000, 2));

    protocol->startProtocol();
    juce::Thread::sleep (300);
    EXPECT_GE (interface.getNumMessages(), 10);

    const auto sentBeforeDestruction = interface.getNumMessages();
    EXPECT_LT (destroyProtocol(), 500ms);
    const auto sent = interface.getNumMessages();
    EXPECT_LE (sent, sentBeforeDestruction + 1);

    MessageLoop::runFor (100);
    EXPECT_EQ (interface.getNumMessages(), sent);
    EXPECT_EQ (recorder.findStatus (completeText), -1);
    EXPECT_TRUE (interface.getEvents() == std::vector<Event> ((size_t) sent, Event::send));
}

//==============================================================================
// A damaged image stops the upload with a status line saying so; nothing past
// the damage is sent, nothing outside the image is read, and the end is
// published so that the window gives the controls back.

TEST_F (UploadTest, DamagedImagesStopTheUploadAtTheDamage)
{
    const auto first = TestImage::makeMessage (9, 0);
    auto wrongFirstByte = first;
    wrongFirstByte.front() = 0x7f;

    const auto empty = Expected::text ("status.imageEmpty");
    const auto tooLarge = Expected::text ("status.imageTooLarge");
    const auto damagedAt = [] (int offset) { return Expected::text ("status.imageDamaged", { { "offset", juce::String (offset) } }); };

    // The last case's 0xF7 lies just past the claimed end: it must not be found.
    const struct
    {
        const char* what;
        std::vector<juce::uint8> bytes;
        juce::int64 claimedSize;
        std::vector<std::vector<juce::uint8>> sent;
        juce::String status;
    } cases[] = {
        { "no stream", {}, 0, {}, empty },
        { "length 0", first, 0, {}, empty },
        { "length 2^32", first, (juce::int64) 1 << 32, {}, tooLarge },
        { "length 2^32 + 9", first, ((juce::int64) 1 << 32) + 9, {}, tooLarge },
        { "wrong first byte", wrongFirstByte, 9, {}, damagedAt (0) },
        { "wrong byte where a message starts", concatenate ({ first, { 0x00, 0x01, 0xf7 }, TestImage::makeMessage (9, 1) }),
          21, { first }, damagedAt (9) },
        { "no 0xF7 before the end", concatenate ({ first, { 0xf0, 0x01, 0x02, 0xf7 } }),
          12, { first }, damagedAt (9) }
    };

    for (const auto& damaged : cases)
    {
        SCOPED_TRACE (damaged.what);

        const auto messagesBefore = interface.getNumMessages();

        prepareRaw (damaged.bytes, damaged.claimedSize);
        protocol->startProtocol();
        ASSERT_TRUE (runUntilUploadEnds (1000));
        MessageLoop::runFor (30);

        const auto messages = interface.getMessages();
        const std::vector<RecordingInterface::Message> sent (messages.begin() + messagesBefore, messages.end());
        ASSERT_EQ (sent.size(), damaged.sent.size());

        for (size_t i = 0; i < sent.size(); ++i)
            EXPECT_EQ (sent[i].bytes, damaged.sent[i]);

        EXPECT_EQ (protocol->getStatusText(), damaged.status);
        ASSERT_FALSE (recorder.entries.empty());
        EXPECT_EQ (recorder.entries.back().status, damaged.status);

        EXPECT_EQ (protocol->getUploadState(), ProgressClass::UploadState::imageFailed);
    }
}

//==============================================================================
// A message that was not taken, or a device that left, ends the upload at once
// with a status that names only the messages the device took; nothing more is
// sent, and the published progress stays where the upload stopped. A device
// that leaves once it has taken the last message, as a pedal does to restart,
// has the whole image.
TEST_F (UploadTest, AFailedSendOrAGoneDeviceStopsTheUploadAndSaysSo)
{
    const auto failed = ProgressClass::UploadState::deviceFailed;

    const auto ofSix = [] (const char* key, int n)
    {
        return Expected::text (key, { { "n", juce::String (n) }, { "total", "6" } });
    };

    const auto goesWith = [] (int message)
    {
        return [message] (RecordingInterface& i) { i.setSendCallback ([&i, message] (int index) { if (index == message) i.setPresent (false); }); };
    };

    const auto handedOverOnly = [] (std::function<void (RecordingInterface&)> fault)
    {
        return [fault] (RecordingInterface& i) { i.setConfirmsDelivery (false); fault (i); };
    };

    const struct
    {
        const char* what;
        std::function<void (RecordingInterface&)> fault;
        int sent;
        juce::String status;
        ProgressClass::UploadState state;
    } cases[] = {
        { "the fourth send fails", [] (RecordingInterface& i) { i.failSendsFrom (3, SendResult::Status::failed); },
          3, ofSix ("status.notSent", 4), failed },
        { "the fourth send times out", [] (RecordingInterface& i) { i.failSendsFrom (3, SendResult::Status::timedOut); },
          3, ofSix ("status.stoppedResponding", 3), failed },
        { "no output open at the first send", [] (RecordingInterface& i) { i.failSendsFrom (0, SendResult::Status::notOpen); },
          0, ofSix ("status.notSent", 1), failed },
        { "the device goes once it has taken the second message", goesWith (1),
          2, ofSix ("status.disconnected", 2), failed },
        { "the device goes once it has taken the last message", goesWith (5),
          6, completeText, ProgressClass::UploadState::complete },
        { "the device is gone before the first message", [] (RecordingInterface& i) { i.setPresent (false); },
          0, ofSix ("status.disconnected", 0), failed },
        { "the device goes with the second message, which the system only took", handedOverOnly (goesWith (1)),
          2, ofSix ("status.disconnected", 2), failed },
        { "the device goes with the last message, which the system only took", handedOverOnly (goesWith (5)),
          6, ofSix ("status.disconnected", 6), failed },
    };

    for (const auto& fault : cases)
    {
        SCOPED_TRACE (fault.what);

        RecordingInterface faulty;
        fault.fault (faulty);
        TestImage sixMessages (std::vector<int> (6, 100));
        BasicSysexProtocolClass faultyProtocol (&faulty, &sixMessages.record);

        faultyProtocol.startProtocol();
        ASSERT_TRUE (MessageLoop::runUntil ([&] { return ! faultyProtocol.isThreadRunning(); }, 5000));

        ASSERT_EQ (faulty.getNumMessages(), fault.sent);
        EXPECT_EQ (faultyProtocol.getStatusText(), fault.status);
        EXPECT_EQ (faultyProtocol.getUploadState(), fault.state);
        EXPECT_EQ (faultyProtocol.progress.load(), std::nearbyint (fault.sent * 100.0 / 6.0) / 100.0);
    }
}

TEST_F (UploadTest, ACopyOfTheImageThatDoesNotMatchItsDigestIsNotSent)
{
    prepare ({ 9, 16, 9 });
    image->record.streamSha256 = juce::SHA256 (image->bytes.data(), image->bytes.size()).toHexString();
    image->bytes[20] ^= 0x01;

    protocol->startProtocol();
    ASSERT_TRUE (runUntilUploadEnds());

    EXPECT_EQ (interface.getNumMessages(), 0);
    EXPECT_EQ (protocol->getStatusText(), Expected::text ("status.programFileDamaged"));
    EXPECT_EQ (protocol->getUploadState(), ProgressClass::UploadState::imageFailed);

    // The copy as it was built goes out whole.
    image->bytes[20] ^= 0x01;
    protocol->startProtocol();
    ASSERT_TRUE (MessageLoop::runUntil ([this] { return protocol->getUploadState() == ProgressClass::UploadState::complete; }, 5000));
    expectMessagesAreTheImage (interface.getMessages());
}
