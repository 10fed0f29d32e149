#include "upload/ProtocolBaseClass.h"
#include "RecordingInterface.h"
#include "TestImage.h"
#include "ProgressRecorder.h"
#include "MessageLoop.h"

#include <gtest/gtest.h>

namespace
{
    /** A protocol whose body publishes a given fraction and then waits until it
        is released or asked to exit; it notes what its thread looked like. */
    class ScriptedProtocol  : public ProtocolBaseClass
    {
    public:
        ScriptedProtocol (InterfaceBaseClass* interface, FirmwareImageClass* image)
            : ProtocolBaseClass (interface, image)
        {
            mayPublish.signal();
        }

        ~ScriptedProtocol() override
        {
            stopThread (2000);
        }

        void run() override
        {
            priority = getPriority();
            threadName = juce::Thread::getCurrentThread()->getThreadName();
            ++runs;

            while (! threadShouldExit() && ! mayPublish.wait (5))
            {
            }

            setProgress (fractionToPublish);

            while (! threadShouldExit() && ! release.wait (5))
            {
            }
        }

        double fractionToPublish = 0.37;
        juce::WaitableEvent mayPublish { true };
        juce::WaitableEvent release;
        std::atomic<int> runs { 0 };
        std::atomic<juce::Thread::Priority> priority { juce::Thread::Priority::background };
        juce::String threadName;
    };

    struct ProtocolBaseClassTest  : public testing::Test
    {
        bool runUntilPublished (double fraction)
        {
            return MessageLoop::runUntil ([&] { return protocol.progress.load() == fraction; }, 2000);
        }

        RecordingInterface interface;
        TestImage image { { 9 } };
        ProgressRecorder recorder;
        ScriptedProtocol protocol { &interface, &image.record };
    };
}

//==============================================================================
TEST_F (ProtocolBaseClassTest, DefaultStartPublishesZeroAndRunsOneStepBelowNormal)
{
    protocol.setProgress (0.8);
    recorder.listenTo (protocol);

    // The body holds back its own progress until the start's 0.0 has been seen.
    protocol.mayPublish.reset();
    protocol.startProtocol();
    EXPECT_EQ (protocol.progress.load(), 0.0);
    EXPECT_EQ (protocol.getUploadState(), ProgressClass::UploadState::uploading);
    EXPECT_TRUE (protocol.isThreadRunning());

    ASSERT_TRUE (MessageLoop::runUntil ([this] { return ! recorder.entries.empty(); }, 2000));
    EXPECT_EQ (recorder.entries.front().progress, 0.0);

    protocol.mayPublish.signal();
    ASSERT_TRUE (runUntilPublished (0.37));
    EXPECT_EQ (protocol.priority.load(), juce::Thread::Priority::low);
    EXPECT_EQ (protocol.threadName, "Protocol Thread");
}

TEST_F (ProtocolBaseClassTest, StartWhileRunningChangesNothingEvenAtOne)
{
    // Even a running upload that has published 1.0 is left alone: it has not
    // ended until it says so.
    protocol.fractionToPublish = 1.0;
    protocol.startProtocol();
    ASSERT_TRUE (runUntilPublished (1.0));

    protocol.startProtocol();
    protocol.startProtocol();
    MessageLoop::runFor (50);

    EXPECT_EQ (protocol.progress.load(), 1.0);
    EXPECT_EQ (protocol.runs.load(), 1);
}

TEST_F (ProtocolBaseClassTest, StartAfterTheThreadEndedRunsAgain)
{
    protocol.startProtocol();
    ASSERT_TRUE (runUntilPublished (0.37));
    protocol.release.signal();
    ASSERT_TRUE (MessageLoop::runUntil ([&] { return ! protocol.isThreadRunning(); }, 2000));

    // Held back so that the new thread cannot publish before the start's 0.0 is seen.
    protocol.fractionToPublish = 0.5;
    protocol.mayPublish.reset();
    protocol.startProtocol();
    EXPECT_EQ (protocol.progress.load(), 0.0);

    protocol.mayPublish.signal();
    ASSERT_TRUE (runUntilPublished (0.5));
    EXPECT_EQ (protocol.runs.load(), 2);
}
