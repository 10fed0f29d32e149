// Devices that refuse to open or are gone from the system's list by the time
// the user chooses them, met through the update panel's selector.

#include "FaultTestSupport.h"

using namespace FaultTestSupport;

namespace
{
    class DeviceFaults  : public FaultPanelTest
    {
    protected:
        void expectConnected (bool connected)
        {
            EXPECT_EQ (panel->midiInterface->isConnected(), connected);
            EXPECT_EQ (panel->updateButton->isEnabled(), connected);
            EXPECT_EQ (updateButtonColour(), connected ? lightGreen : lightRed);
            EXPECT_EQ (VirtualMidi::getNumOpenConnections(), connected ? 1 : 0);
        }

        /** Runs a whole upload of a short image and checks that it reached this
            port, and only this port, unchanged. */
        void expectUploadReaches (const std::string& port)
        {
            const TestImage image (std::vector<int> (8, 12));
            useImage (*panel, image);
            VirtualMidi::clearEvents();

            ASSERT_TRUE (uploadToTheEnd());
            ASSERT_TRUE (waitForStatus (finishedStatus));

            const auto events = VirtualMidi::getEvents();
            ASSERT_EQ (events.size(), image.messages.size());

            for (size_t i = 0; i < events.size(); ++i)
            {
                EXPECT_EQ (events[i].port, port) << "message " << i;
                EXPECT_EQ (events[i].bytes, image.messages[i]) << "message " << i;
            }
        }
    };
}

//==============================================================================
TEST_F (DeviceFaults, ARefusedOpenLeavesUpdateDisabledUntilAChoiceOpensTheDevice)
{
    openPanel ({ "Virtual Pedal" });
    VirtualMidi::setOpenRefused ("Virtual Pedal", true);

    choose (1);
    EXPECT_EQ (selector->getText(), "Virtual Pedal");
    expectConnected (false);

    // Picking the item already shown does not try again: the selector reports
    // only a change of item.
    VirtualMidi::setOpenRefused ("Virtual Pedal", false);
    choose (1);
    expectConnected (false);

    choose (2);
    EXPECT_EQ (selector->getText(), "(Disconnected)");
    expectConnected (false);

    choose (1);
    expectConnected (true);
    expectUploadReaches ("Virtual Pedal");
}

TEST_F (DeviceFaults, ARefusedDeviceLeavesTheNextChoiceFreeToOpenAnother)
{
    openPanel ({ "Virtual Pedal", "Spare Pedal" });
    VirtualMidi::setOpenRefused ("Virtual Pedal", true);

    choose (1);
    expectConnected (false);

    choose (2);
    EXPECT_EQ (selector->getText(), "Spare Pedal");
    expectConnected (true);
    expectUploadReaches ("Spare Pedal");

    // Back to the refused one: the open output is closed first, so nothing
    // stays open when the new one fails.
    choose (1);
    expectConnected (false);
}

//==============================================================================
TEST_F (DeviceFaults, ADeviceGoneBeforeTheChoiceOpensWhateverIsNowAtItsPosition)
{
    openPanel ({ "Virtual Pedal", "Spare Pedal" });
    VirtualMidi::setOutputPorts ({ "Spare Pedal" });

    choose (1);
    EXPECT_EQ (selector->getText(), "Virtual Pedal");
    EXPECT_EQ (selector->getNumItems(), 3);
    expectConnected (true);
    expectUploadReaches ("Spare Pedal");
}

TEST_F (DeviceFaults, ADeviceGoneWithNothingAtItsPositionOpensNothing)
{
    openPanel ({ "Virtual Pedal", "Spare Pedal" });
    VirtualMidi::setOutputPorts ({ "Virtual Pedal" });

    choose (2);
    EXPECT_EQ (selector->getText(), "Spare Pedal");
    expectConnected (false);

    VirtualMidi::setOutputPorts ({});
    choose (1);
    expectConnected (false);

    // The disabled button cannot start anything.
    panel->updateButton->triggerClick();
    MessageLoop::runFor (100);
    EXPECT_FALSE (panel->protocol->isThreadRunning());
    EXPECT_TRUE (VirtualMidi::getEvents().empty());

    // The device comes back: the item finds it at its position again.
    VirtualMidi::setOutputPorts ({ "Virtual Pedal" });
    choose (3);
    choose (1);
    expectConnected (true);
    expectUploadReaches ("Virtual Pedal");
}
