#pragma once

#include "firmware/FirmwareImageClass.h"
#include "midi/MidiInterfaceClass.h"
#include "ui/BrenloHelpWindowClass.h"
#include "ui/ContentComp.h"
#include "ui/UpdaterLookAndFeel.h"
#include "upload/BasicSysexProtocolClass.h"
#include "VirtualMidi.h"
#include "Expected.h"
#include "MessageLoop.h"
#include "TestUtilities.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

/** The panel's status line as it shows what the upload says. */
inline juce::String statusLineSaying (const juce::String& status)
{
    return Expected::text ("panel.statusLine", { { "status", status } });
}

//==============================================================================
/** A window built like the main window (own title bar, close button only,
    resizable border, the main window's size, centred) that owns an update
    panel. */
class PanelHostWindow  : public juce::DocumentWindow
{
public:
    PanelHostWindow()
        : juce::DocumentWindow ({}, Expected::colour ("colours.windowBackground"), juce::DocumentWindow::closeButton, true)
    {
        panel = new ContentComp (this, {});
        setResizable (true, false);
        setContentOwned (panel, false);
        const auto size = Expected::size ("mainWindow.size");
        centreWithSize (size.getWidth(), size.getHeight());
        setVisible (true);
    }

    void closeButtonPressed() override  { setVisible (false); }

    ContentComp* panel = nullptr;
};

//==============================================================================
/** Runs each test with the updater's look, one virtual USB pedal and a panel
    in its window, after the selector's start-up notification has arrived. */
class PanelTest  : public testing::Test
{
protected:
    void SetUp() override
    {
        VirtualMidi::reset();
        VirtualMidi::setOutputPorts ({ "Virtual Pedal" });
        TestUtilities::makeUsbPedals ({ "Virtual Pedal" });
        juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);

        window = std::make_unique<PanelHostWindow>();
        panel = window->panel;
        MessageLoop::runFor (100);
    }

    void TearDown() override
    {
        window.reset();
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
        VirtualMidi::reset();
    }

    juce::ComboBox* findOutputSelector() const
    {
        for (auto* child : panel->midiInterface->getChildren())
            if (auto* box = dynamic_cast<juce::ComboBox*> (child))
                return box;

        return nullptr;
    }

    /** Picks an item in the selector as the user would and lets the
        notifications arrive. */
    void chooseOutput (int itemId)
    {
        auto* selector = findOutputSelector();
        ASSERT_NE (selector, nullptr);
        selector->setSelectedId (itemId);
        MessageLoop::runFor (100);
    }

    void chooseVirtualPedal()     { chooseOutput (1); }
    void chooseDisconnected()     { chooseOutput (2); }

    juce::uint32 updateButtonColour() const
    {
        return panel->updateButton->findColour (juce::TextButton::buttonColourId).getARGB();
    }

    const juce::uint32 lightGreen = Expected::colour ("colours.updateButtonConnected").getARGB();
    const juce::uint32 lightRed = Expected::colour ("colours.updateButtonNotConnected").getARGB();

    UpdaterLookAndFeel lookAndFeel;
    std::unique_ptr<PanelHostWindow> window;
    ContentComp* panel = nullptr;
};
