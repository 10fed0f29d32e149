#include "upload/ProgressClass.h"
#include "ProgressRecorder.h"
#include "MessageLoop.h"

#include <gtest/gtest.h>

namespace
{
    /** Publishes one fraction from its own JUCE thread. */
    class PublishingThread  : public juce::Thread
    {
    public:
        PublishingThread (ProgressClass& sourceToUse, double fractionToPublish)
            : juce::Thread ("Publishing Thread"), source (sourceToUse), fraction (fractionToPublish)
        {
        }

        ~PublishingThread() override
        {
            stopThread (1000);
        }

        void run() override
        {
            source.setProgress (fraction);
        }

    private:
        ProgressClass& source;
        const double fraction;
    };

    /** Publishes the fraction on the message thread and returns how many
        notifications arrived for it. */
    int notificationsFor (ProgressClass& source, ProgressRecorder& recorder, double fraction)
    {
        const auto before = recorder.entries.size();
        source.setProgress (fraction);
        MessageLoop::runFor (30);
        return static_cast<int> (recorder.entries.size() - before);
    }
}

//==============================================================================
TEST (ProgressClass, QuantisesToHundredthsWithTiesToEven)
{
    const std::pair<double, double> cases[] = {
        { 0.123, 0.12 }, { 0.125, 0.12 }, { 0.135, 0.14 }, { 0.375, 0.38 }, { 0.625, 0.62 },
        { 0.994, 0.99 }, { 0.996, 1.0 }, { 0.0, 0.0 }, { 1.0, 1.0 }, { 0.5, 0.5 }
    };

    ProgressClass source;

    for (const auto& [fraction, published] : cases)
    {
        source.setProgress (fraction);
        EXPECT_EQ (source.progress.load(), published) << "fraction " << fraction;
    }
}

TEST (ProgressClass, NotifiesOnlyWhenThePublishedHundredthChanges)
{
    ProgressRecorder recorder;
    ProgressClass source;
    recorder.listenTo (source);

    EXPECT_EQ (notificationsFor (source, recorder, 0.0), 0);
    EXPECT_EQ (notificationsFor (source, recorder, 0.004), 0);
    EXPECT_EQ (source.progress.load(), 0.0);

    EXPECT_EQ (notificationsFor (source, recorder, 0.006), 1);
    EXPECT_EQ (recorder.entries.back().progress, 0.01);

    EXPECT_EQ (notificationsFor (source, recorder, 0.012), 0);

    EXPECT_EQ (notificationsFor (source, recorder, 0.996), 1);
    EXPECT_EQ (recorder.entries.back().progress, 1.0);

    EXPECT_EQ (notificationsFor (source, recorder, 1.0), 0);
}

TEST (ProgressClass, StatusTextNotifiesOncePerNewText)
{
    ProgressRecorder recorder;
    ProgressClass source;
    recorder.listenTo (source);

    EXPECT_TRUE (source.getStatusText().isEmpty());

    source.setStatusText ("Uploading firmware");
    source.setStatusText ("Uploading firmware");
    MessageLoop::runFor (30);
    ASSERT_EQ (recorder.entries.size(), 1u);
    EXPECT_EQ (recorder.entries.back().status, "Uploading firmware");

    // Equal characters in a separately built string count as the same text.
    source.setStatusText (juce::String ("Uploading ") + "firmware");
    MessageLoop::runFor (30);
    EXPECT_EQ (recorder.entries.size(), 1u);

    source.setStatusText ("Something else");
    MessageLoop::runFor (30);
    ASSERT_EQ (recorder.entries.size(), 2u);
    EXPECT_EQ (recorder.entries.back().status, "Something else");
    EXPECT_EQ (source.getStatusText(), "Something else");
}

TEST (ProgressClass, StoresValuesWithoutListeners)
{
    ProgressClass source;

    source.setProgress (0.42);
    source.setStatusText ("Uploading firmware");

    EXPECT_EQ (source.progress.load(), 0.42);
    EXPECT_EQ (source.getStatusText(), "Uploading firmware");
}

TEST (ProgressClass, ProgressFromAnotherThreadIsDeliveredOnTheMessageThread)
{
    ProgressRecorder recorder;
    ProgressClass source;
    bool onMessageThread = false;
    recorder.listenTo (source, {}, [&] (const ProgressRecorder::Entry&)
    {
        onMessageThread = juce::MessageManager::getInstance()->isThisTheMessageThread();
    });

    PublishingThread publisher (source, 0.257);
    publisher.startThread();

    ASSERT_TRUE (MessageLoop::runUntil ([&] { return ! recorder.entries.empty() && ! publisher.isThreadRunning(); }, 2000));
    EXPECT_EQ (recorder.entries.back().progress, 0.26);
    EXPECT_TRUE (onMessageThread);
}

TEST (ProgressClass, PublishingFromAnotherThreadNeverWaitsForTheMessageThread)
{
    ProgressRecorder recorder;
    ProgressClass source;
    recorder.listenTo (source);

    PublishingThread publisher (source, 0.5);
    publisher.startThread();

    // The message loop does not run (as while the window's close button waits
    // for the upload): the publisher still ends at once.
    EXPECT_TRUE (publisher.waitForThreadToExit (1000));
    EXPECT_EQ (source.progress.load(), 0.5);

    source.setStatusText ("Uploading firmware");
    source.setUploadState (ProgressClass::UploadState::complete);
    source.setUploadState (ProgressClass::UploadState::complete);

    // Once the loop runs, the coalesced notification shows every value.
    MessageLoop::runFor (50);
    ASSERT_EQ (recorder.entries.size(), 1u);
    EXPECT_EQ (recorder.entries.back().progress, 0.5);
    EXPECT_EQ (recorder.entries.back().status, "Uploading firmware");
    EXPECT_EQ (source.getUploadState(), ProgressClass::UploadState::complete);

    source.setUploadState (ProgressClass::UploadState::complete);
    MessageLoop::runFor (30);
    EXPECT_EQ (recorder.entries.size(), 1u);
}
