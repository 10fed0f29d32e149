// Devices that refuse to open, are gone by the time the user chooses them, or
// go during or after an upload, met through the update panel over the
// stand-in MIDI service. Whatever happens, the success text never follows an
// upload that the pedal did not receive whole.

#include "FaultTestSupport.h"
#include "TestUtilities.h"
#include "midi/linux/RawMidiSysexOutput.h"

#include <alsa/asoundlib.h>

using namespace FaultTestSupport;

namespace
{
    /** The status line after a pedal that went once it had taken this many
        messages of the test image's 40. */
    juce::String disconnectedAfter (int taken)
    {
        return statusLineSaying (Expected::text ("status.disconnected", { { "n", juce::String (taken) }, { "total", "40" } }));
    }

    juce::String notConnected (const juce::String& name)
    {
        return Expected::text ("panel.notConnected", { { "name", name } });
    }

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
            useImage (*panel, image);
            VirtualMidi::clearEvents();

            ASSERT_TRUE (uploadToTheEnd());
            ASSERT_TRUE (waitForStatus (finishedStatus));
            expectReceived (port, image.messages.size());
        }

        /** This port got the image's first messages, unchanged, and nothing else
            arrived anywhere. */
        void expectReceived (const std::string& port, size_t numMessages)
        {
            const auto events = VirtualMidi::getEvents();
            ASSERT_EQ (events.size(), numMessages);

            for (size_t i = 0; i < events.size(); ++i)
            {
                EXPECT_EQ (events[i].port, port) << "message " << i;
                EXPECT_EQ (events[i].bytes, image.messages[i]) << "message " << i;
            }
        }

        juce::String statusLine() const   { return panel->progressLabel->getText(); }

        /** Presses update and waits until the upload has ended, whichever way,
            or the press has been refused. */
        void pressUpdateAndWait()
        {
            ASSERT_TRUE (uploadToTheEnd (10000));
        }

        const TestImage image { std::vector<int> (40, 12) };
    };
}

//==============================================================================
TEST_F (DeviceFaults, ARefusedOpenSaysSoAndTheDeviceOpensOnceItAccepts)
{
    openPanel ({ "Virtual Pedal" }, { "Virtual Pedal" });

    choose (1);
    EXPECT_EQ (selector->getText(), "Virtual Pedal");
    expectConnected (false);
    EXPECT_EQ (statusLine(), Expected::text ("panel.notOpened", { { "name", "Virtual Pedal" } }));

    // Picking the item already shown is no change of item; opening the list
    // offers the device again.
    VirtualMidi::setOpenRefused ("Virtual Pedal", false);
    TestUtilities::openAndCloseList (*selector);
    choose (1);
    expectConnected (true);
    EXPECT_EQ (statusLine(), Expected::text ("panel.statusPrefix"));
    expectUploadReaches ("Virtual Pedal");
}

TEST_F (DeviceFaults, ARefusedDeviceLeavesTheNextChoiceFreeToOpenAnother)
{
    openPanel ({ "Virtual Pedal", "Spare Pedal" }, { "Virtual Pedal" });

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
// The pedal goes at some moment of the user's way: what it received, what the
// status line says, and the state of the button and the selector after.
// Through the sequencer, a port that goes right after a message is found gone
// by the look for the device that follows every message; a USB pedal that
// goes takes nothing more, and the status names only what it took.
TEST_F (DeviceFaults, APedalThatGoesIsNeverReportedUpdated)
{
    const struct
    {
        PortKind kind;
        const char* what;
        std::function<void()> act;
        size_t received;
        juce::String status;
    } cases[] = {
        { PortKind::sequencerOnly, "unplugged after 15 of 40 messages",
          [this]
          {
              VirtualMidi::unplugAfter ("Virtual Pedal", 15);
              pressUpdateAndWait();
          },
          15, disconnectedAfter (15) },

        { PortKind::sequencerOnly, "unplugged with only the last message to go",
          [this]
          {
              VirtualMidi::unplugAfter ("Virtual Pedal", 39);
              pressUpdateAndWait();
          },
          39, disconnectedAfter (39) },

        { PortKind::usbPedal, "a USB pedal unplugged after 15 of 40 messages",
          [this]
          {
              VirtualMidi::unplugAfter ("Virtual Pedal", 15);
              pressUpdateAndWait();
          },
          15, disconnectedAfter (15) },

        { PortKind::sequencerOnly, "gone again at once after it came back, before the panel saw the upload start",
          [this]
          {
              VirtualMidi::unplugAfter ("Virtual Pedal", 10, std::chrono::milliseconds (300));
              pressUpdateAndWait();
              MessageLoop::runFor (400);
              TestUtilities::openAndCloseList (*selector);
              choose (1);    // back at the address it had, listed where it was
              ASSERT_EQ (selector->getText(), "Virtual Pedal");
              VirtualMidi::clearEvents();
              VirtualMidi::unplugAfter ("Virtual Pedal", 1);

              // The upload starts and fails while the message thread is busy
              // elsewhere: the panel hears of both in one notification.
              panel->buttonClicked (panel->updateButton);
              const auto deadline = juce::Time::getMillisecondCounter() + 10000 * MessageLoop::slowdown;

              while ((panel->protocol->isThreadRunning() || panel->protocol->getUploadState() == ProgressClass::UploadState::uploading)
                     && juce::Time::getMillisecondCounter() < deadline)
                  juce::Thread::sleep (1);

              MessageLoop::deliverPending();
          },
          1, disconnectedAfter (1) },

        { PortKind::usbPedal, "gone after a whole upload, then update pressed again",
          [this]
          {
              pressUpdateAndWait();
              ASSERT_EQ (statusLine(), statusLineSaying (finishedStatus));
              VirtualMidi::clearEvents();
              VirtualMidi::unplugAfter ("Virtual Pedal", 0);
              pressUpdateAndWait();
          },
          0, notConnected ("Virtual Pedal") },

        { PortKind::usbPedal, "gone from the list before it is chosen, another device at its place",
          [this]
          {
              choose (3);
              VirtualMidi::setOutputPorts ({ "Spare Pedal" });
              choose (1);
              pressUpdateAndWait();
          },
          0, notConnected ("Virtual Pedal") },
    };

    for (const auto& fault : cases)
    {
        SCOPED_TRACE (fault.what);

        openPanel ({ "Virtual Pedal", "Spare Pedal" }, {}, fault.kind);
        useImage (*panel, image);
        choose (1);
        expectConnected (true);

        fault.act();

        expectReceived ("Virtual Pedal", fault.received);
        EXPECT_EQ (statusLine(), fault.status);
        expectConnected (false);
        EXPECT_TRUE (panel->midiInterface->isEnabled());
        EXPECT_EQ (VirtualMidi::getNumLostEvents ("Spare Pedal"), 0);

        window.reset();
    }
}

// A pedal restarts as soon as it has the last message: it leaves the system
// after the upload's last send, and has the whole image.
TEST_F (DeviceFaults, APedalThatRestartsOnceItHasTheLastMessageIsUpdated)
{
    openPanel ({ "Virtual Pedal" });
    useImage (*panel, image);
    choose (1);

    VirtualMidi::unplugAfter ("Virtual Pedal", (int) image.messages.size());
    pressUpdateAndWait();
    MessageLoop::runFor (100);

    EXPECT_TRUE (juce::MidiOutput::getAvailableDevices().isEmpty());
    EXPECT_EQ (statusLine(), statusLineSaying (finishedStatus));
    expectReceived ("Virtual Pedal", image.messages.size());
}

// Every MIDI program on the system hears of each sequencer client that starts
// or ends: a whole upload starts none.
TEST_F (DeviceFaults, AWholeUploadStartsNoSequencerClientThatOtherProgramsHearOf)
{
    openPanel ({ "Virtual Pedal" });
    choose (1);

    snd_seq_t* listener = nullptr;
    ASSERT_EQ (snd_seq_open (&listener, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK), 0);
    const auto port = snd_seq_create_simple_port (listener, "listener", SND_SEQ_PORT_CAP_WRITE, SND_SEQ_PORT_TYPE_APPLICATION);
    ASSERT_EQ (snd_seq_connect_from (listener, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE), 0);

    expectUploadReaches ("Virtual Pedal");

    int numStarted = 0, numEnded = 0;
    snd_seq_event_t* event = nullptr;

    while (snd_seq_event_input (listener, &event) >= 0)
    {
        numStarted += event->type == SND_SEQ_EVENT_CLIENT_START ? 1 : 0;
        numEnded += event->type == SND_SEQ_EVENT_CLIENT_EXIT ? 1 : 0;
    }

    EXPECT_EQ (numStarted, 0);
    EXPECT_EQ (numEnded, 0);
    snd_seq_close (listener);
}

TEST_F (DeviceFaults, APedalThatComesBackIsChosenAgainAndGetsTheWholeImage)
{
    openPanel ({ "Virtual Pedal" });
    useImage (*panel, image);
    choose (1);

    VirtualMidi::unplugAfter ("Virtual Pedal", 10, std::chrono::milliseconds (300));
    pressUpdateAndWait();
    EXPECT_EQ (statusLine(), disconnectedAfter (10));
    expectConnected (false);

    // Back in update mode, at the address it had: the panel does not take it
    // for the output it lost, and the reopened list offers it.
    MessageLoop::runFor (400);
    TestUtilities::openAndCloseList (*selector);
    EXPECT_EQ (selector->getText(), Expected::text ("selector.disconnected"));
    choose (1);
    expectConnected (true);

    VirtualMidi::clearEvents();
    pressUpdateAndWait();
    EXPECT_EQ (statusLine(), statusLineSaying (finishedStatus));
    expectReceived ("Virtual Pedal", image.messages.size());
    EXPECT_TRUE (panel->updateButton->isEnabled());
}

//==============================================================================
// A USB pedal that stops taking bytes, its buffer never draining: the upload
// says so once the send's bound has passed, not before, and the device is
// closed at once; and a window closed while a send waits on it goes at once.
TEST_F (DeviceFaults, AUsbPedalThatStopsTakingBytesIsReportedAfterTheBoundAndNeverHoldsTheWindow)
{
    using Clock = std::chrono::steady_clock;

    openPanel ({ "Virtual Pedal" });
    useImage (*panel, image);
    choose (1);
    VirtualMidi::setStuckAfter ("Virtual Pedal", 5);

    const auto bound = RawMidiSysexOutput::getSendBound (12);
    const auto pressed = Clock::now();
    panel->updateButton->triggerClick();

    ASSERT_TRUE (waitForStatus (Expected::text ("status.stoppedResponding", { { "n", "5" }, { "total", "40" } }),
                                (int) std::chrono::duration_cast<std::chrono::milliseconds> (bound).count() + 5000));
    EXPECT_GE (Clock::now() - pressed, bound);
    ASSERT_TRUE (MessageLoop::runUntil ([this] { return ! panel->protocol->isThreadRunning() && panel->midiInterface->isEnabled(); }, 1000));
    expectReceived ("Virtual Pedal", 5);
    expectConnected (false);

    // Chosen again, it takes nothing at all.
    TestUtilities::openAndCloseList (*selector);
    choose (1);
    panel->updateButton->triggerClick();
    MessageLoop::runFor (200);
    ASSERT_TRUE (panel->protocol->isThreadRunning());

    const auto closing = Clock::now();
    window.reset();
    EXPECT_LT (Clock::now() - closing, std::chrono::seconds (1));
    EXPECT_TRUE (findProtocolThreads().empty());
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);
}
