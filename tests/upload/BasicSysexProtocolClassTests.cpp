#include "upload/BasicSysexProtocolClass.h"
#include "RecordingInterface.h"
#include "TestImage.h"
#include "ProgressRecorder.h"
#include "MessageLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

using namespace std::chrono_literals;

namespace
{
    using Clock = std::chrono::steady_clock;
    using Event = RecordingInterface::Event;

    const juce::String uploadingText ("Uploading firmware");
    const juce::String completeText ("Wait: all LEDs will turn orange, red, orange, then off when complete.");

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
        /** A protocol over a well-formed image of messages of these lengths. When
            told to act like the window, the test enables the selector whenever a
            notification shows progress 1.0, as the update panel does. */
        void prepare (const std::vector<int>& lengths, juce::int32 fixedPacing = 1, bool actLikeTheWindow = false)
        {
            protocol.reset();
            image = std::make_unique<TestImage> (lengths, fixedPacing);
            createProtocol (actLikeTheWindow);
        }

        /** A protocol over these bytes, whose record claims the given length. */
        void prepareRaw (std::vector<juce::uint8> bytes, juce::int64 claimedSize)
        {
            protocol.reset();
            image = std::make_unique<TestImage> (std::move (bytes), 1);
            image->record.streamSize = claimedSize;
            createProtocol (false);
        }

        bool runUntilUploadEnds (int timeoutMs = 10000)
        {
            return MessageLoop::runUntil ([this] { return ! protocol->isThreadRunning(); }, timeoutMs);
        }

        bool runUntilSent (int numMessages)
        {
            return MessageLoop::runUntil ([&] { return interface.getNumMessages() >= numMessages; }, 5000);
        }

        /** Runs the message loop until the upload is inside the send of the
            message with this index, and holds it there. The message loop is
            then left, so from here on the upload cannot get the message-thread
            lock; releaseSend() lets the held send go on. */
        bool runUntilSendIsHeld (int messageIndex)
        {
            interface.setSendCallback ([this, messageIndex] (int index)
            {
                if (index == messageIndex)
                {
                    sendReached.signal();
                    sendReleased.wait (5000);
                }
            });

            protocol->startProtocol();
            return MessageLoop::runUntil ([this] { return sendReached.wait (0); }, 5000);
        }

        void releaseSend()
        {
            sendReleased.signal();
        }

        /** Waits, without running the message loop, until the upload has
            published its final status; it then still has to enable the
            selector under the message-thread lock. */
        bool waitForFinalStatusWithoutMessageLoop()
        {
            for (int i = 0; i < 2000; ++i)
            {
                if (protocol->getStatusText() == completeText)
                    return true;

                juce::Thread::sleep (1);
            }

            return false;
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

        RecordingInterface interface;
        ProgressRecorder recorder;
        juce::WaitableEvent sendReached, sendReleased;
        std::unique_ptr<TestImage> image;
        std::unique_ptr<BasicSysexProtocolClass> protocol;

    private:
        void createProtocol (bool actLikeTheWindow)
        {
            protocol = std::make_unique<BasicSysexProtocolClass> (&interface, &image->record);

            std::function<void (const ProgressRecorder::Entry&)> reaction;

            if (actLikeTheWindow)
                reaction = [this] (const ProgressRecorder::Entry& entry)
                {
                    if (entry.progress == 1.0)
                        interface.setEnabled (true);
                };

            recorder.listenTo (*protocol, [this] { return interface.getNumMessages(); }, reaction);
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
    // a send's return and the next send; what lies there instead is only the
    // message thread's answer to the lock. A median keeps a scheduling hiccup
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
TEST_F (UploadTest, PublishedSequenceAndSelectorOverOneUpload)
{
    prepare ({ 25, 25, 25, 25 }, 1, true);

    protocol->startProtocol();
    ASSERT_TRUE (runUntilUploadEnds());

    const auto messages = interface.getMessages();
    expectMessagesAreTheImage (messages);

    // Statuses in order, the final one only after the last message and its interval.
    std::vector<juce::String> statuses;
    double previousProgress = 0.0;

    for (const auto& entry : recorder.entries)
    {
        if (statuses.empty() || statuses.back() != entry.status)
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

    // Disabled before the first message, enabled once after the last.
    EXPECT_EQ (interface.getEvents(), (std::vector<Event> { Event::disabled, Event::send, Event::send,
                                                            Event::send, Event::send, Event::enabled }));
    EXPECT_TRUE (interface.isEnabled());
}

TEST_F (UploadTest, ProgressReachesOneBeforeTheLastMessages)
{
    // 996 of 1000 bytes publish 1.0; two short messages are still to go.
    prepare ({ 996, 2, 2 }, 1, true);

    std::array<std::atomic<double>, 3> progressAtSend {};
    interface.setSendCallback ([&] (int index) { progressAtSend[(size_t) index] = protocol->progress.load(); });

    protocol->startProtocol();
    ASSERT_TRUE (runUntilUploadEnds());

    EXPECT_EQ (progressAtSend[0].load(), 0.0);
    EXPECT_EQ (progressAtSend[1].load(), 1.0);
    EXPECT_EQ (progressAtSend[2].load(), 1.0);

    // The window enables the selector at 1.0; the upload disables it again
    // before the remaining messages and enables it at its end.
    EXPECT_EQ (interface.getEvents(), (std::vector<Event> { Event::disabled, Event::send, Event::enabled,
                                                            Event::disabled, Event::send, Event::send,
                                                            Event::enabled }));

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

TEST_F (UploadTest, StartAtExactlyOneWhileFinishingOnlyResetsTheProgress)
{
    prepare ({ 996, 2, 2 });

    protocol->startProtocol();
    ASSERT_TRUE (runUntilSent (3));

    // Without the message loop the upload cannot enable the selector at its
    // end, so its thread is still running with the whole image sent.
    ASSERT_TRUE (waitForFinalStatusWithoutMessageLoop());
    ASSERT_TRUE (protocol->isThreadRunning());

    protocol->startProtocol();
    EXPECT_EQ (protocol->progress.load(), 0.0);

    ASSERT_TRUE (runUntilUploadEnds());
    EXPECT_EQ (interface.getNumMessages(), 3);
    EXPECT_EQ (protocol->progress.load(), 0.0);
    EXPECT_EQ (protocol->getStatusText(), completeText);
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
// The destructor runs on the message thread and waits for the protocol thread,
// which cannot get the message-thread lock meanwhile. In each of these the
// upload is made to wait for that lock first, by not running the message loop.

TEST_F (UploadTest, DestroyingWhileTheUploadWaitsBeforeAMessage)
{
    // Each message moves the fraction by 0.001, so after the second one the
    // published hundredth stays and the next wait is the one before a message.
    prepare (std::vector<int> (1000, 2));

    ASSERT_TRUE (runUntilSendIsHeld (1));
    releaseSend();
    juce::Thread::sleep (50);
    ASSERT_EQ (interface.getNumMessages(), 2);

    EXPECT_LT (destroyProtocol(), 500ms);
    EXPECT_EQ (interface.getNumMessages(), 2);

    MessageLoop::runFor (100);
    EXPECT_EQ (interface.getNumMessages(), 2);
    EXPECT_EQ (recorder.findStatus (completeText), -1);
    EXPECT_FALSE (interface.isEnabled());
}

TEST_F (UploadTest, DestroyingWhileTheUploadWaitsToPublishProgress)
{
    // Each message moves the published progress by a tenth.
    prepare (std::vector<int> (10, 10));

    ASSERT_TRUE (runUntilSendIsHeld (1));
    releaseSend();
    juce::Thread::sleep (50);
    ASSERT_EQ (interface.getNumMessages(), 2);

    EXPECT_LT (destroyProtocol(), 500ms);

    MessageLoop::runFor (100);
    EXPECT_EQ (interface.getNumMessages(), 2);
    EXPECT_EQ (recorder.findStatus (completeText), -1);
    EXPECT_FALSE (interface.isEnabled());

    for (const auto& entry : recorder.entries)
        EXPECT_LT (entry.progress, 0.2);
}

TEST_F (UploadTest, DestroyingWhileTheFinishedUploadWaitsToEnableTheSelector)
{
    prepare ({ 996, 2, 2 });

    protocol->startProtocol();
    ASSERT_TRUE (runUntilSent (3));
    ASSERT_TRUE (waitForFinalStatusWithoutMessageLoop());
    ASSERT_FALSE (interface.isEnabled());

    EXPECT_LT (destroyProtocol(), 500ms);

    MessageLoop::runFor (50);
    EXPECT_EQ (interface.getNumMessages(), 3);
    EXPECT_FALSE (interface.isEnabled());
}

//==============================================================================
// A damaged image stops the upload with a status line saying so; nothing past
// the damage is sent, nothing outside the image is read, and the selector is
// enabled again.

TEST_F (UploadTest, DamagedImagesStopTheUploadAtTheDamage)
{
    const auto first = TestImage::makeMessage (9, 0);
    auto wrongFirstByte = first;
    wrongFirstByte.front() = 0x7f;

    // The last case's 0xF7 lies just past the claimed end: it must not be found.
    const struct
    {
        const char* what;
        std::vector<juce::uint8> bytes;
        juce::int64 claimedSize;
        std::vector<std::vector<juce::uint8>> sent;
        juce::String status;
    } cases[] = {
        { "no stream", {}, 0, {}, "Firmware image empty: upload stopped" },
        { "length 0", first, 0, {}, "Firmware image empty: upload stopped" },
        { "length 2^32", first, (juce::int64) 1 << 32, {}, "Firmware image too large: upload stopped" },
        { "length 2^32 + 9", first, ((juce::int64) 1 << 32) + 9, {}, "Firmware image too large: upload stopped" },
        { "wrong first byte", wrongFirstByte, 9, {}, "Firmware image damaged at byte 0: upload stopped" },
        { "wrong byte where a message starts", concatenate ({ first, { 0x00, 0x01, 0xf7 }, TestImage::makeMessage (9, 1) }),
          21, { first }, "Firmware image damaged at byte 9: upload stopped" },
        { "no 0xF7 before the end", concatenate ({ first, { 0xf0, 0x01, 0x02, 0xf7 } }),
          12, { first }, "Firmware image damaged at byte 9: upload stopped" }
    };

    for (const auto& damaged : cases)
    {
        SCOPED_TRACE (damaged.what);

        // Disabled beforehand, so that enabling it shows even where the upload
        // stops before it has disabled the selector itself.
        interface.setEnabled (false);
        const auto eventsBefore = interface.getEvents().size();
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

        EXPECT_TRUE (interface.isEnabled());
        EXPECT_EQ (interface.getEvents().back(), Event::enabled);
        EXPECT_GT (interface.getEvents().size(), eventsBefore);
    }
}
