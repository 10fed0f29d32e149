#include "PanelHost.h"
#include "TestUtilities.h"
#include "ui/HelpText.h"

namespace
{
    juce::Rectangle<int> expectedHelpWindowBounds()
    {
        auto area = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
        return { area.getX() + area.getWidth() / 2 - 275, area.getY() + area.getHeight() / 2 - 200, 550, 400 };
    }

    juce::TextEditor* findHelpEditor (BrenloHelpWindowClass& helpWindow)
    {
        if (auto* content = helpWindow.getContentComponent())
            for (auto* child : content->getChildren())
                if (auto* editor = dynamic_cast<juce::TextEditor*> (child))
                    return editor;

        return nullptr;
    }
}

//==============================================================================
TEST_F (PanelTest, StartsNotConnectedWithEmptyProgress)
{
    EXPECT_FALSE (panel->midiInterface->isConnected());
    EXPECT_FALSE (panel->updateButton->isEnabled());
    EXPECT_EQ (updateButtonColour(), lightRed);
    EXPECT_EQ (panel->progress, 0.0);
    EXPECT_EQ (panel->progressLabel->getText(), "Update progress:");
    EXPECT_TRUE (panel->midiInterface->isEnabled());
    EXPECT_FALSE (panel->helpWindow->isVisible());
    EXPECT_EQ (panel->helpWindow->getParentComponent(), nullptr);
}

TEST_F (PanelTest, ShowsTheFixedTextsAndColours)
{
    EXPECT_EQ (panel->firmwareImage->getName(), "Quillet Q7");
    EXPECT_EQ (panel->firmwareImage->fixedPacing, 1);
    EXPECT_EQ (panel->infoLabel->getText(), "This will update your Quillet Q7 to version 1.3.00 Build 89");
    EXPECT_EQ (panel->step1Label->getText(), "STEP1");
    EXPECT_EQ (panel->step2Label->getText(), "STEP2");

    EXPECT_EQ (panel->updateButton->getButtonText(), "update");
    EXPECT_EQ (panel->updateButton->getTooltip(), "click here to update the product");
    EXPECT_EQ (panel->updateButton->getConnectedEdgeFlags(), juce::Button::ConnectedOnLeft);
    EXPECT_EQ (panel->helpButton->getButtonText(), "Help");
    EXPECT_EQ (panel->helpButton->getTooltip(), "click here to get help");
    EXPECT_EQ (panel->helpButton->findColour (juce::TextButton::buttonColourId).getARGB(), 0xffeff2f3u);
    EXPECT_EQ (panel->progressBar->findColour (juce::ProgressBar::backgroundColourId).getARGB(), 0xffffffffu);

    for (auto* label : { panel->infoLabel, panel->step1Label, panel->step2Label, panel->progressLabel })
    {
        EXPECT_TRUE (label->getName().isEmpty());
        EXPECT_EQ (label->getFont().getHeight(), 15.0f);
    }

    EXPECT_EQ (panel->progressLabel->getAttachedComponent(), panel->progressBar);
    EXPECT_FALSE (panel->progressLabel->isAttachedOnLeft());
    EXPECT_EQ (panel->progressLabel->getParentComponent(), panel);
}

TEST_F (PanelTest, InformationLineCarriesANonZeroRevision)
{
    FirmwareImageClass image ("Quillet Q7", "1.3.00 Build 89", 7);
    EXPECT_EQ (ContentComp::makeInfoText (image), "This will update your Quillet Q7 to version 1.3.00 Build 89 - R7");
    EXPECT_TRUE (ContentComp::makeInfoText (image).endsWith (" - R7"));

    FirmwareImageClass negative ("Quillet Q7", "1.3.00 Build 89", -2);
    EXPECT_TRUE (ContentComp::makeInfoText (negative).endsWith (" - R-2"));
}

TEST_F (PanelTest, ChildrenAreAddedInConstructionOrder)
{
    // deleteAllChildren() goes from the last child to the first, so this order
    // decides that the MIDI interface is deleted last.
    const juce::Component* expected[] = { panel->midiInterface, panel->infoLabel, panel->step1Label,
                                          panel->step2Label, panel->updateButton, panel->progressBar,
                                          panel->progressLabel, panel->helpButton };

    ASSERT_EQ (panel->getNumChildComponents(), (int) std::size (expected));

    for (int i = 0; i < panel->getNumChildComponents(); ++i)
        EXPECT_EQ (panel->getChildComponent (i), expected[i]) << "child " << i;
}

//==============================================================================
TEST_F (PanelTest, ChoosingAnOutputEnablesTheUpdateButtonAndDisconnectingDisablesIt)
{
    chooseVirtualPedal();
    ASSERT_TRUE (MessageLoop::runUntil ([this] { return panel->updateButton->isEnabled(); }, 2000));
    EXPECT_TRUE (panel->midiInterface->isConnected());
    EXPECT_EQ (updateButtonColour(), lightGreen);
    EXPECT_TRUE (panel->midiInterface->isEnabled());

    chooseDisconnected();
    ASSERT_TRUE (MessageLoop::runUntil ([this] { return ! panel->updateButton->isEnabled(); }, 2000));
    EXPECT_FALSE (panel->midiInterface->isConnected());
    EXPECT_EQ (updateButtonColour(), lightRed);

    chooseVirtualPedal();
    ASSERT_TRUE (MessageLoop::runUntil ([this] { return panel->updateButton->isEnabled(); }, 2000));
    EXPECT_EQ (updateButtonColour(), lightGreen);
}

TEST_F (PanelTest, AnOutputThatCannotBeOpenedLeavesTheButtonDisabledAndSaysWhy)
{
    VirtualMidi::setOpenRefused ("Virtual Pedal", true);
    TestUtilities::openAndCloseList (*findOutputSelector());
    chooseVirtualPedal();

    EXPECT_FALSE (panel->midiInterface->isConnected());
    EXPECT_FALSE (panel->updateButton->isEnabled());
    EXPECT_EQ (updateButtonColour(), lightRed);
    EXPECT_EQ (panel->progressLabel->getText(),
               "Virtual Pedal could not be opened: quit any other program that uses it, then choose it again");

    // Choosing "(Disconnected)" ends the matter, and the status line with it.
    chooseDisconnected();
    EXPECT_EQ (panel->progressLabel->getText(), "Update progress:");
}

//==============================================================================
TEST_F (PanelTest, LayoutInTheMainWindowSize)
{
    EXPECT_EQ (window->getBounds().getWidth(), 650);
    EXPECT_EQ (window->getBounds().getHeight(), 400);
    ASSERT_EQ (panel->getWidth(), 642);
    ASSERT_EQ (panel->getHeight(), 366);

    using R = juce::Rectangle<int>;
    EXPECT_EQ (panel->infoLabel->getBounds(),     R (10, 15, 622, 50));
    EXPECT_EQ (panel->helpButton->getBounds(),    R (538, 25, 94, 30));
    EXPECT_EQ (panel->step1Label->getBounds(),    R (10, 70, 622, 30));
    EXPECT_EQ (panel->midiInterface->getBounds(), R (10, 105, 622, 50));
    EXPECT_EQ (panel->step2Label->getBounds(),    R (10, 165, 622, 30));
    EXPECT_EQ (panel->updateButton->getBounds(),  R (538, 215, 94, 30));
    EXPECT_EQ (panel->progressBar->getBounds(),   R (10, 215, 528, 30));
    // JUCE 7.0.5 sizes an attached label as its border (2) + 6 + the font
    // height rounded up from 15.5: 24 pixels, its bottom on the bar's top.
    EXPECT_EQ (panel->progressLabel->getBounds(), R (10, 191, 528, 24));

    EXPECT_EQ (panel->progressBar->getRight(), panel->updateButton->getX());
    EXPECT_EQ (panel->helpWindow->getBounds(), expectedHelpWindowBounds());
}

TEST_F (PanelTest, LayoutFollowsThePanelWidthAndReCentresTheHelpWindow)
{
    panel->helpWindow->setBounds (3, 4, 300, 200);
    panel->setSize (800, 366);

    using R = juce::Rectangle<int>;
    EXPECT_EQ (panel->infoLabel->getBounds(),     R (10, 15, 780, 50));
    EXPECT_EQ (panel->helpButton->getBounds(),    R (696, 25, 94, 30));
    EXPECT_EQ (panel->midiInterface->getBounds(), R (10, 105, 780, 50));
    EXPECT_EQ (panel->updateButton->getBounds(),  R (696, 215, 94, 30));
    EXPECT_EQ (panel->progressBar->getBounds(),   R (10, 215, 686, 30));
    EXPECT_EQ (panel->progressLabel->getBounds(), R (10, 191, 686, 24));
    EXPECT_EQ (panel->helpWindow->getBounds(), expectedHelpWindowBounds());
    EXPECT_FALSE (panel->helpWindow->isVisible());
}

//==============================================================================
TEST_F (PanelTest, HelpButtonTogglesOneWindowAndReCentresIt)
{
    auto* helpWindow = panel->helpWindow;

    panel->helpButton->triggerClick();
    ASSERT_TRUE (MessageLoop::runUntil ([helpWindow] { return helpWindow->isVisible(); }, 2000));
    EXPECT_EQ (panel->helpWindow, helpWindow);
    EXPECT_EQ (helpWindow->getName(), "Firmware Update Help");
    EXPECT_EQ (helpWindow->getBounds(), expectedHelpWindowBounds());

    auto* editor = findHelpEditor (*helpWindow);
    ASSERT_NE (editor, nullptr);
    EXPECT_EQ (editor->getText(), helpText);
    EXPECT_TRUE (editor->isReadOnly());
    EXPECT_TRUE (editor->isMultiLine());

    // Moved and resized by the user while shown: the next press puts it back.
    helpWindow->setBounds (20, 30, 400, 300);
    panel->helpButton->triggerClick();
    ASSERT_TRUE (MessageLoop::runUntil ([helpWindow] { return ! helpWindow->isVisible(); }, 2000));
    EXPECT_EQ (helpWindow->getBounds(), expectedHelpWindowBounds());

    panel->helpButton->triggerClick();
    ASSERT_TRUE (MessageLoop::runUntil ([helpWindow] { return helpWindow->isVisible(); }, 2000));
    EXPECT_EQ (panel->helpWindow, helpWindow);
    EXPECT_EQ (findHelpEditor (*helpWindow), editor);
    EXPECT_EQ (helpWindow->getBounds(), expectedHelpWindowBounds());
}

TEST_F (PanelTest, ClosingTheHelpWindowOnlyHidesIt)
{
    auto* helpWindow = panel->helpWindow;
    panel->helpButton->triggerClick();
    ASSERT_TRUE (MessageLoop::runUntil ([helpWindow] { return helpWindow->isVisible(); }, 2000));
    auto* editor = findHelpEditor (*helpWindow);

    ASSERT_NE (helpWindow->getCloseButton(), nullptr);
    helpWindow->getCloseButton()->triggerClick();
    ASSERT_TRUE (MessageLoop::runUntil ([helpWindow] { return ! helpWindow->isVisible(); }, 2000));
    EXPECT_TRUE (helpWindow->isOnDesktop());

    panel->helpButton->triggerClick();
    ASSERT_TRUE (MessageLoop::runUntil ([helpWindow] { return helpWindow->isVisible(); }, 2000));
    EXPECT_EQ (findHelpEditor (*helpWindow), editor);
    EXPECT_EQ (editor->getText(), helpText);
    EXPECT_EQ (helpWindow->getBounds(), expectedHelpWindowBounds());
}

//==============================================================================
TEST_F (PanelTest, ProgressNotificationBeforeAnyStatusShowsThePrefixAlone)
{
    panel->changeListenerCallback (panel->protocol);

    EXPECT_EQ (panel->progressLabel->getText(), "Update progress: ");
    EXPECT_EQ (panel->progress, 0.0);
    EXPECT_FALSE (panel->updateButton->isEnabled());
}

TEST_F (PanelTest, ControlsFollowTheUploadStateAndTheConnectionWhicheverSourceNotifies)
{
    using State = ProgressClass::UploadState;

    // A MIDI change while an upload runs must not give the selector back, and
    // progress 1.0 is not the end: only the published end is.
    for (const auto connected : { false, true })
    {
        connected ? chooseVirtualPedal() : chooseDisconnected();

        for (const auto state : { State::idle, State::uploading, State::complete, State::imageFailed })
        {
            for (auto* source : { (juce::ChangeBroadcaster*) panel->protocol, (juce::ChangeBroadcaster*) panel->midiInterface })
            {
                SCOPED_TRACE ("connected " + juce::String ((int) connected) + ", state " + juce::String ((int) state)
                              + (source == panel->protocol ? ", protocol" : ", MIDI"));

                panel->protocol->progress = 1.0;
                panel->protocol->setUploadState (state);
                panel->changeListenerCallback (source);

                const auto uploading = state == State::uploading;
                EXPECT_EQ (panel->midiInterface->isEnabled(), ! uploading);
                EXPECT_EQ (panel->updateButton->isEnabled(), connected && ! uploading);
                EXPECT_EQ (updateButtonColour(), connected ? lightGreen : lightRed);
            }
        }
    }

    // An upload that ended because of the device closes it: the user chooses
    // it again once it is back.
    panel->protocol->setUploadState (State::deviceFailed);
    panel->changeListenerCallback (panel->protocol);
    MessageLoop::runFor (50);

    EXPECT_FALSE (panel->midiInterface->isConnected());
    EXPECT_TRUE (panel->midiInterface->isEnabled());
    EXPECT_FALSE (panel->updateButton->isEnabled());
    EXPECT_EQ (updateButtonColour(), lightRed);
}

//==============================================================================
TEST_F (PanelTest, EveryStatusLineFitsWithoutBeingCutOff)
{
    // The label squeezes a long line down to the framework's least horizontal
    // scale and cuts off what is still too long: the advice at the end of a
    // failure would be lost. Each line with its longest numbers.
    const juce::StringArray lines {
        "Update progress: Uploading firmware",
        "Update progress: Wait: all LEDs will turn orange, red, orange, then off when complete.",
        "Update progress: Pedal disconnected after message 3,065 of 3,065: not updated, see Help",
        "Update progress: Pedal stopped responding after message 3,064 of 3,065: not updated, see Help",
        "Update progress: Message 3,065 of 3,065 could not be sent: not updated, see Help",
        "Update progress: Program file damaged: download the updater again. Nothing was sent.",
        "Update progress: Firmware image damaged at byte 12259619: upload stopped",
        "Virtual Pedal is not connected: choose it again when it shows up",
        "Virtual Pedal could not be opened: quit any other program that uses it, then choose it again",
    };

    const auto* label = panel->progressLabel;
    const auto room = (float) label->getBorderSize().subtractedFrom (label->getLocalBounds()).getWidth()
                    / juce::Font::getDefaultMinimumHorizontalScaleFactor();

    for (const auto& line : lines)
        EXPECT_LE (label->getFont().getStringWidthFloat (line), room) << line;
}
