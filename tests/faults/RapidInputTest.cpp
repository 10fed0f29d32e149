// Update, Help and the output selector pressed rapidly, in random order,
// while an upload runs and at its end, driven through the components with the
// message loop pumped in between.

#include "FaultTestSupport.h"

#include <iostream>
#include <random>

using namespace FaultTestSupport;

namespace
{
    constexpr unsigned int seed = 7411;

    using RapidInput = FaultPanelTest;
}

TEST_F (RapidInput, PressesDuringAnUploadLeaveItsMessagesUnchanged)
{
    SCOPED_TRACE ("random seed " + std::to_string (seed));

    openPanel ({ "Virtual Pedal", "Spare Pedal" });
    choose (1);
    ASSERT_TRUE (panel->updateButton->isEnabled());

    // 40 long messages, then 4 short ones that make up less than half a
    // hundredth: the published progress reaches 1.0 while they still go out,
    // so the panel enables update and the selector during the upload's tail.
    std::vector<int> lengths (40, 200);
    lengths.insert (lengths.end(), 4, 9);
    const TestImage image (lengths);
    const auto messageIndex = indexMessages (image);
    constexpr size_t numBeforeCompletion = 40;

    useImage (*panel, image);

    std::mt19937 random (seed);
    AlertDismisser alerts;
    const auto helpWasVisible = panel->helpWindow->isVisible();
    int numUpdatePresses = 0, numHelpPresses = 0, numChoices = 0, numChoicesRefused = 0;
    int numTimesSelectorEnabledMidUpload = 0;
    bool firstUploadComplete = false;

    panel->updateButton->triggerClick();

    // A person needs far longer than the upload thread does to reach the
    // selector after pressing update; the presses begin once it has locked.
    ASSERT_TRUE (MessageLoop::runUntil ([this] { return ! panel->midiInterface->isEnabled(); }, 2000));

    // Presses until 1500 ms after the first upload's thread has ended: the
    // presses then choose other outputs and start new uploads, which run on
    // to their ends once the pressing stops. Update comes up least often, so
    // that the selector gets its turns between the uploads.
    const auto giveUpAt = juce::Time::getMillisecondCounter() + (juce::uint32) (5000 * MessageLoop::slowdown);
    juce::uint32 stopPressingAt = 0;

    while (stopPressingAt == 0 || juce::Time::getMillisecondCounter() < stopPressingAt)
    {
        if (stopPressingAt == 0)
        {
            ASSERT_LT (juce::Time::getMillisecondCounter(), giveUpAt) << "the first upload did not end";

            if (firstUploadComplete && ! panel->protocol->isThreadRunning())
                stopPressingAt = juce::Time::getMillisecondCounter() + 1500;
        }

        MessageLoop::runFor (2);

        if (! firstUploadComplete)
        {
            firstUploadComplete = panel->progress == 1.0;

            if (! firstUploadComplete && panel->midiInterface->isEnabled())
                ++numTimesSelectorEnabledMidUpload;
        }

        const auto press = random() % 6;

        if (press == 0)
        {
            panel->updateButton->triggerClick();
            ++numUpdatePresses;
        }
        else if (press < 3)
        {
            panel->helpButton->triggerClick();
            ++numHelpPresses;
        }
        else
        {
            // A disabled selector does not open for the user.
            const auto itemId = 1 + (int) (random() % 3);

            if (panel->midiInterface->isEnabled())
            {
                selector->setSelectedId (itemId);
                ++numChoices;
            }
            else
            {
                ++numChoicesRefused;
            }
        }
    }

    MessageLoop::runFor (100);
    ASSERT_TRUE (MessageLoop::runUntil ([this] { return ! panel->protocol->isThreadRunning(); }, 5000));
    MessageLoop::runFor (100);

    std::cout << "presses: " << numUpdatePresses << " update, " << numHelpPresses << " Help, "
              << numChoices << " choices made, " << numChoicesRefused << " refused by the disabled selector, "
              << alerts.numAlerts << " alerts\n";

    EXPECT_EQ (numTimesSelectorEnabledMidUpload, 0);
    EXPECT_GT (numChoicesRefused, 0);
    EXPECT_EQ (panel->helpWindow->isVisible(), helpWasVisible != (numHelpPresses % 2 == 1));

    // Every message arrived whole and unchanged. A new upload starts again
    // from the first message, so the arrivals fall into runs of rising
    // positions, one per upload.
    const auto events = VirtualMidi::getEvents();
    std::vector<int> indices;

    for (size_t i = 0; i < events.size(); ++i)
    {
        const auto found = messageIndex.find (events[i].bytes);
        ASSERT_NE (found, messageIndex.end()) << "event " << i << " on " << events[i].port << " is no message of the image";
        indices.push_back (found->second);
    }

    int numUploadsSeen = indices.empty() ? 0 : 1;

    for (size_t i = 1; i < indices.size(); ++i)
        if (indices[i] <= indices[i - 1])
            ++numUploadsSeen;

    std::cout << events.size() << " messages arrived, from " << numUploadsSeen << " uploads\n";

    // Up to its completion the first upload went, untouched and in order, to
    // the device chosen before it began; of its tail, a choice made once the
    // selector was enabled again may have sent some elsewhere or nowhere.
    ASSERT_GE (events.size(), numBeforeCompletion);

    for (size_t i = 0; i < numBeforeCompletion; ++i)
    {
        EXPECT_EQ (events[i].port, "Virtual Pedal") << "message " << i;
        EXPECT_EQ (indices[i], (int) i) << "message " << i;
    }
}
