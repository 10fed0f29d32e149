#pragma once

// Shared by the fault-injection tests: the updater's real components over the
// stand-in MIDI service, with faults injected there (refused opens, slow
// sends, a device list that changes) or through the components themselves.
// Everything here runs on the message thread unless it says otherwise.

#include "../ui/PanelHost.h"
#include "../upload/TestImage.h"
#include "TestUtilities.h"

#include <map>
#include <string>
#include <vector>


namespace FaultTestSupport
{
    /** The events that reached one port, in arrival order. */
    inline std::vector<VirtualMidi::Event> eventsOn (const std::string& port)
    {
        std::vector<VirtualMidi::Event> events;

        for (auto& event : VirtualMidi::getEvents())
            if (event.port == port)
                events.push_back (std::move (event));

        return events;
    }

    inline size_t countEventsOn (const std::string& port)
    {
        return eventsOn (port).size();
    }

    /** The ids of this process's threads that carry the protocol thread's name. */
    inline std::vector<juce::String> findProtocolThreads()
    {
        std::vector<juce::String> ids;

        for (const auto& task : juce::File ("/proc/self/task").findChildFiles (juce::File::findDirectories, false))
            if (task.getChildFile ("comm").loadFileAsString().trim() == "Protocol Thread")
                ids.push_back (task.getFileName());

        return ids;
    }

    /** True once no protocol thread is left in the process, false if one still
        is after the time-out. */
    inline bool waitForNoProtocolThread (int timeoutMs)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! findProtocolThreads().empty())
        {
            if (juce::Time::getMillisecondCounter() >= end)
                return findProtocolThreads().empty();

            juce::Thread::sleep (1);
        }

        return true;
    }

    inline juce::ComboBox* findOutputSelector (MidiInterfaceClass& midiInterface)
    {
        for (auto* child : midiInterface.getChildren())
            if (auto* box = dynamic_cast<juce::ComboBox*> (child))
                return box;

        return nullptr;
    }

    /** Points a panel's image record at a test image, which has no digest. */
    inline void useImage (ContentComp& panel, const TestImage& image)
    {
        panel.firmwareImage->streamData = image.bytes.data();
        panel.firmwareImage->streamSize = (juce::int64) image.bytes.size();
        panel.firmwareImage->streamSha256 = {};
    }

    /** The position of each message of an image, found by its bytes. */
    inline std::map<std::vector<juce::uint8>, int> indexMessages (const TestImage& image)
    {
        std::map<std::vector<juce::uint8>, int> index;

        for (size_t i = 0; i < image.messages.size(); ++i)
            index.emplace (image.messages[i], (int) i);

        return index;
    }

    //==============================================================================
    /** Watches for modal alert windows while a modal loop runs, counts them and
        dismisses each one. */
    class AlertDismisser  : private juce::Timer
    {
    public:
        AlertDismisser()              { startTimer (10); }
        ~AlertDismisser() override    { stopTimer(); }

        int numAlerts = 0;
        juce::String lastDescription;

    private:
        void timerCallback() override
        {
            if (auto* alert = dynamic_cast<juce::AlertWindow*> (juce::Component::getCurrentlyModalComponent()))
            {
                ++numAlerts;
                lastDescription = alert->getDescription();
                alert->exitModalState (0);
            }
        }
    };

    //==============================================================================
    /** What the stand-in's ports are: USB pedals (a raw MIDI device behind each
        port, as with a real pedal), or ports that only the sequencer serves (a
        software client), which the program sends to through the framework. */
    enum class PortKind
    {
        usbPedal,
        sequencerOnly
    };

    /** A panel in a window built like the main window, over the output ports
        given, with the updater's look; torn down with the window. */
    class FaultPanelTest  : public testing::Test
    {
    protected:
        void TearDown() override
        {
            window.reset();
            juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
            VirtualMidi::reset();
        }

        /** Offers these outputs, USB pedals unless said otherwise, those named
            second refusing to open, builds the panel and lets the selector's
            start-up report arrive. */
        void openPanel (const std::vector<std::string>& ports, const std::vector<std::string>& refused = {},
                        PortKind kind = PortKind::usbPedal)
        {
            VirtualMidi::reset();
            VirtualMidi::setOutputPorts (ports);

            if (kind == PortKind::usbPedal)
                TestUtilities::makeUsbPedals (ports);

            for (const auto& name : refused)
                VirtualMidi::setOpenRefused (name, true);

            juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);

            window = std::make_unique<PanelHostWindow>();
            panel = window->panel;
            selector = findOutputSelector (*panel->midiInterface);
            ASSERT_NE (selector, nullptr);
            MessageLoop::runFor (50);
        }

        /** Picks an item in the selector as the user does and lets the
            selector's report and the panel's change callback arrive. */
        void choose (int itemId)
        {
            selector->setSelectedId (itemId);
            MessageLoop::runFor (50);
        }

        juce::uint32 updateButtonColour() const
        {
            return panel->updateButton->findColour (juce::TextButton::buttonColourId).getARGB();
        }

        bool waitForStatus (const juce::String& status, int timeoutMs = 5000)
        {
            const auto line = statusLineSaying (status);
            return MessageLoop::runUntil ([this, line] { return panel->progressLabel->getText() == line; }, timeoutMs);
        }

        /** Presses update and runs the message loop until the upload has ended
            and the panel has been told. Nothing transient is waited for (a slow
            repaint may hide a short upload's whole run). */
        bool uploadToTheEnd (int timeoutMs = 5000)
        {
            panel->updateButton->triggerClick();
            MessageLoop::deliverPending();

            const auto ended = MessageLoop::runUntil ([this]
            {
                return ! panel->protocol->isThreadRunning()
                    && panel->protocol->getUploadState() != ProgressClass::UploadState::uploading;
            }, timeoutMs);

            MessageLoop::deliverPending();
            return ended;
        }

        const juce::uint32 lightGreen = Expected::colour ("colours.updateButtonConnected").getARGB();
        const juce::uint32 lightRed = Expected::colour ("colours.updateButtonNotConnected").getARGB();
        const juce::String finishedStatus = Expected::text ("status.complete");

        UpdaterLookAndFeel lookAndFeel;
        std::unique_ptr<PanelHostWindow> window;
        ContentComp* panel = nullptr;
        juce::ComboBox* selector = nullptr;
    };
}
