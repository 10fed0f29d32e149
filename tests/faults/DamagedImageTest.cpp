// A damaged image forced into the program anyway (the build refuses one):
// the upload's own checks stop it, seen through the update panel. The upload's
// refusals themselves (empty, too large, a wrong start byte, a message without
// its end) are covered by the upload tests; here it is what the user meets.

#include "FaultTestSupport.h"

using namespace FaultTestSupport;

namespace
{
    class DamagedImage  : public FaultPanelTest
    {
    protected:
        /** Ten good 9-byte messages, three bytes that start no message, five
            good messages more: the damage lies at byte 90. */
        void SetUp() override
        {
            std::vector<juce::uint8> bytes;

            for (size_t i = 0; i < good.messages.size(); ++i)
            {
                if (i == 10)
                    bytes.insert (bytes.end(), { 0x00, 0x01, 0xf7 });

                bytes.insert (bytes.end(), good.messages[i].begin(), good.messages[i].end());
            }

            damaged = std::make_unique<TestImage> (std::move (bytes), 1);

            openPanel ({ "Virtual Pedal" });
            useImage (*panel, *damaged);
            choose (1);
            ASSERT_TRUE (panel->updateButton->isEnabled());
        }

        /** Starts the upload and waits until it has stopped on the damage. */
        void uploadUntilRefused()
        {
            ASSERT_TRUE (uploadToTheEnd());
            ASSERT_TRUE (waitForStatus (damageStatus));
        }

        const juce::String damageStatus = Expected::text ("status.imageDamaged", { { "offset", "90" } });
        const TestImage good { std::vector<int> (15, 9) };
        std::unique_ptr<TestImage> damaged;
    };
}

TEST_F (DamagedImage, IsRefusedAtTheDamageWithNothingPastItSent)
{
    uploadUntilRefused();
    MessageLoop::runFor (100);

    const auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), 10u);

    for (size_t i = 0; i < events.size(); ++i)
        EXPECT_EQ (events[i].bytes, good.messages[i]) << "message " << i;

    EXPECT_EQ (panel->progressLabel->getText(), statusLineSaying (damageStatus));
    EXPECT_LT (panel->progress, 1.0);
    EXPECT_TRUE (panel->midiInterface->isEnabled());
    EXPECT_TRUE (panel->midiInterface->isConnected());
}

TEST_F (DamagedImage, LeavesTheControlsToTheUser)
{
    uploadUntilRefused();
    MessageLoop::runFor (100);

    EXPECT_TRUE (panel->midiInterface->isEnabled());
    EXPECT_TRUE (panel->updateButton->isEnabled());
    EXPECT_EQ (updateButtonColour(), lightGreen);

    // A new press meets the same damage: the same ten messages, no more.
    VirtualMidi::clearEvents();
    uploadUntilRefused();
    EXPECT_EQ (VirtualMidi::getEvents().size(), 10u);
}
