#include "PanelHost.h"

#include <cmath>


namespace
{
    /** A short image of complete SysEx messages, each one numbered. */
    std::vector<juce::uint8> makeImage (int numMessages)
    {
        std::vector<juce::uint8> image;

        for (int i = 0; i < numMessages; ++i)
        {
            const juce::uint8 message[] = { 0xf0, 0x00, 0x20, 0x7d, (juce::uint8) (i & 0x7f), 0x01, 0x02, 0x03, 0xf7 };
            image.insert (image.end(), std::begin (message), std::end (message));
        }

        return image;
    }

    /** True while a thread named like the protocol's exists in this process. */
    bool protocolThreadExists()
    {
        for (const auto& task : juce::File ("/proc/self/task").findChildFiles (juce::File::findDirectories, false))
            if (task.getChildFile ("comm").loadFileAsString().trim() == "Protocol Thread")
                return true;

        return false;
    }

    //==============================================================================
    /** Watches for modal alert windows while a modal loop runs, records what
        they show and dismisses each one. */
    class AlertDismisser  : private juce::Timer
    {
    public:
        AlertDismisser()   { startTimer (20); }
        ~AlertDismisser() override   { stopTimer(); }

        int numAlerts = 0;
        juce::String title, description;
        juce::MessageBoxIconType iconType = juce::MessageBoxIconType::NoIcon;
        juce::StringArray buttonTexts;

    private:
        void timerCallback() override
        {
            auto* alert = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent());

            if (alert == nullptr)
                return;

            ++numAlerts;
            title = alert->getName();
            description = alert->getDescription();
            iconType = alert->getAlertType();

            for (auto* child : alert->getChildren())
                if (auto* button = dynamic_cast<juce::TextButton*> (child))
                    buttonTexts.add (button->getButtonText());

            alert->exitModalState (0);
        }
    };
}

//==============================================================================
class UploadPanelTest  : public PanelTest
{
protected:
    /** The protocol thread reads the image until TearDown has deleted the
        panel, even when an assertion ends the test body early, so the fixture
        keeps its own copy. */
    void useImage (const std::vector<juce::uint8>& image)
    {
        imageInUse = image;
        panel->firmwareImage->streamData = imageInUse.data();
        panel->firmwareImage->streamSize = (juce::int64) imageInUse.size();
        panel->firmwareImage->streamSha256 = {};
    }

    void startUpload()
    {
        chooseVirtualPedal();
        ASSERT_TRUE (MessageLoop::runUntil ([this] { return panel->updateButton->isEnabled(); }, 2000));

        // What the button's click calls, called here so that nothing can run
        // between the press and the test's first look.
        panel->buttonClicked (panel->updateButton);
        ASSERT_FALSE (panel->updateButton->isEnabled());
    }

    bool waitForLabel (const juce::String& text, int timeoutMs = 5000)
    {
        return MessageLoop::runUntil ([this, text] { return panel->progressLabel->getText() == text; }, timeoutMs);
    }

    std::vector<juce::uint8> imageInUse;
    const juce::String uploadingText = statusLineSaying (Expected::text ("status.uploading"));
    const juce::String finishedText = statusLineSaying (Expected::text ("status.complete"));
};

TEST_F (UploadPanelTest, UploadGoesThroughUploadingToFinished)
{
    const auto image = makeImage (40);
    useImage (image);
    startUpload();

    // The press that disabled the button disabled the selector too.
    EXPECT_FALSE (panel->midiInterface->isEnabled());

    ASSERT_TRUE (waitForLabel (uploadingText));
    EXPECT_EQ (updateButtonColour(), lightGreen);

    // The bar follows in hundredths; 1.0 comes before the last messages, and
    // only the end of the upload gives the controls back.
    ASSERT_TRUE (MessageLoop::runUntil ([this] { return panel->progress > 0.0; }, 2000));
    EXPECT_LT (panel->progress, 1.0);
    EXPECT_EQ (panel->progress, std::round (panel->progress * 100.0) / 100.0);

    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) (5000 * MessageLoop::slowdown);

    while (panel->progressLabel->getText() != finishedText)
    {
        ASSERT_FALSE (panel->midiInterface->isEnabled());
        ASSERT_FALSE (panel->updateButton->isEnabled());
        ASSERT_LT (juce::Time::getMillisecondCounter(), deadline);
        MessageLoop::runFor (5);
    }

    MessageLoop::runFor (10);
    EXPECT_EQ (panel->progress, 1.0);
    EXPECT_TRUE (panel->updateButton->isEnabled());
    EXPECT_EQ (updateButtonColour(), lightGreen);
    EXPECT_TRUE (panel->midiInterface->isEnabled());

    const auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), 40u);

    for (size_t i = 0; i < events.size(); ++i)
    {
        EXPECT_EQ (events[i].port, "Virtual Pedal");
        EXPECT_EQ (events[i].bytes, std::vector<std::uint8_t> (image.begin() + (long) (i * 9), image.begin() + (long) (i * 9 + 9)));
    }
}

TEST_F (UploadPanelTest, FinishedAllowsANewCompleteUpload)
{
    const auto image = makeImage (10);
    useImage (image);
    startUpload();

    // Pressed the moment the button comes back, when the upload's thread may
    // still be returning: the press must start a whole new upload.
    ASSERT_TRUE (MessageLoop::runUntil ([this] { return panel->updateButton->isEnabled(); }, 5000));
    EXPECT_EQ (panel->progressLabel->getText(), finishedText);

    VirtualMidi::clearEvents();
    panel->buttonClicked (panel->updateButton);
    ASSERT_FALSE (panel->updateButton->isEnabled());
    ASSERT_TRUE (MessageLoop::runUntil ([] { return VirtualMidi::getEvents().size() == 10; }, 5000));
    ASSERT_TRUE (MessageLoop::runUntil ([this] { return panel->updateButton->isEnabled()
                                                          && panel->progressLabel->getText() == finishedText; }, 5000));
    EXPECT_EQ (panel->progress, 1.0);
}

//==============================================================================
TEST_F (UploadPanelTest, UpdateWithoutAConnectionWarnsOnceAndChangesNothing)
{
    AlertDismisser dismisser;
    panel->buttonClicked (panel->updateButton);

    EXPECT_EQ (dismisser.numAlerts, 1);
    EXPECT_EQ (dismisser.title, "");
    // The framework describes an alert as its title, ". " and its message.
    EXPECT_EQ (dismisser.description, ". " + Expected::text ("panel.noOutputWarning"));
    EXPECT_EQ (dismisser.iconType, juce::MessageBoxIconType::WarningIcon);
    EXPECT_EQ (dismisser.buttonTexts, juce::StringArray ("OK"));

    MessageLoop::runFor (300);
    EXPECT_EQ (dismisser.numAlerts, 1);
    EXPECT_EQ (panel->progress, 0.0);
    EXPECT_EQ (panel->progressLabel->getText(), Expected::text ("panel.statusPrefix"));
    EXPECT_FALSE (panel->updateButton->isEnabled());
    EXPECT_EQ (updateButtonColour(), lightRed);
    EXPECT_FALSE (panel->protocol->isThreadRunning());
    EXPECT_TRUE (VirtualMidi::getEvents().empty());
}

//==============================================================================
TEST_F (UploadPanelTest, DeletingThePanelDuringAnUploadStopsTheThreadFirst)
{
    const auto image = makeImage (400);
    useImage (image);
    startUpload();
    ASSERT_TRUE (MessageLoop::runUntil ([] { return VirtualMidi::getEvents().size() >= 10; }, 5000));
    ASSERT_TRUE (protocolThreadExists());

    // Looks at the moment the MIDI interface goes: by then the protocol thread
    // must be gone and the help window must still exist.
    struct DeletionWatcher  : public juce::ComponentListener
    {
        void componentBeingDeleted (juce::Component& component) override
        {
            order.add (component.getName().isEmpty() ? juce::String ("interface") : component.getName());

            if (order.size() == 1)
            {
                threadAliveAtInterfaceDeletion = protocolThreadExists();
                eventsAtInterfaceDeletion = VirtualMidi::getEvents().size();
            }
        }

        juce::StringArray order;
        bool threadAliveAtInterfaceDeletion = true;
        size_t eventsAtInterfaceDeletion = 0;
    };

    DeletionWatcher watcher;
    panel->midiInterface->addComponentListener (&watcher);
    panel->helpWindow->addComponentListener (&watcher);

    const auto started = juce::Time::getMillisecondCounterHiRes();
    window.reset();
    const auto elapsedMs = juce::Time::getMillisecondCounterHiRes() - started;

    EXPECT_EQ (watcher.order, juce::StringArray ("interface", Expected::text ("helpWindow.title")));
    EXPECT_FALSE (watcher.threadAliveAtInterfaceDeletion);
    EXPECT_FALSE (protocolThreadExists());
    EXPECT_LT (elapsedMs, 2000.0);
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);

    const auto numEvents = VirtualMidi::getEvents().size();
    EXPECT_EQ (numEvents, watcher.eventsAtInterfaceDeletion);
    EXPECT_LT (numEvents, 400u);

    MessageLoop::runFor (200);
    EXPECT_EQ (VirtualMidi::getEvents().size(), numEvents);
}
