#include "PanelHost.h"
#include "TestUtilities.h"
#include "ui/HelpText.h"

namespace
{
    juce::Rectangle<int> expectedHelpWindowBounds()
    {
        auto area = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
        const auto size = Expected::size ("helpWindow.size");
        return size.withPosition (area.getX() + area.getWidth() / 2 - size.getWidth() / 2,
                                  area.getY() + area.getHeight() / 2 - size.getHeight() / 2);
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
    EXPECT_EQ (panel->progressLabel->getText(), Expected::text ("panel.statusPrefix"));
    EXPECT_TRUE (panel->midiInterface->isEnabled());
    EXPECT_FALSE (panel->helpWindow->isVisible());
    EXPECT_EQ (panel->helpWindow->getParentComponent(), nullptr);
}

TEST_F (PanelTest, ShowsTheFixedTextsAndColours)
{
    EXPECT_EQ (panel->firmwareImage->getName(), Expected::text ("product.name"));
    EXPECT_EQ (panel->firmwareImage->fixedPacing, 1);
    EXPECT_EQ (panel->infoLabel->getText(), Expected::text ("panel.info"));
    EXPECT_EQ (panel->step1Label->getText(), Expected::text ("panel.step1"));
    EXPECT_EQ (panel->step2Label->getText(), Expected::text ("panel.step2"));

    EXPECT_EQ (panel->updateButton->getButtonText(), Expected::text ("panel.updateButton"));
    EXPECT_EQ (panel->updateButton->getTooltip(), Expected::text ("panel.updateButtonTooltip"));
    EXPECT_EQ (panel->updateButton->getConnectedEdgeFlags(), juce::Button::ConnectedOnLeft);
    EXPECT_EQ (panel->helpButton->getButtonText(), Expected::text ("panel.helpButton"));
    EXPECT_EQ (panel->helpButton->getTooltip(), Expected::text ("panel.helpButtonTooltip"));
    EXPECT_EQ (panel->helpButton->findColour (juce::TextButton::buttonColourId).getARGB(), Expected::colour ("colours.helpButton").getARGB());
    EXPECT_EQ (panel->progressBar->findColour (juce::ProgressBar::backgroundColourId).getARGB(), Expected::colour ("colours.progressBarBackground").getARGB());

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
    const auto product = Expected::text ("product.name");
    const auto version = Expected::text ("product.firmwareVersion");

    FirmwareImageClass image (product, version, 7);
    EXPECT_EQ (ContentComp::makeInfoText (image), Expected::text ("panel.infoWithRevision", { { "revision", "7" } }));

    FirmwareImageClass negative (product, version, -2);
    EXPECT_EQ (ContentComp::makeInfoText (negative), Expected::text ("panel.infoWithRevision", { { "revision", "-2" } }));
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
    EXPECT_EQ (panel->progressLabel->getText(), Expected::text ("panel.notOpened", { { "name", "Virtual Pedal" } }));

    // Choosing "(Disconnected)" ends the matter, and the status line with it.
    chooseDisconnected();
    EXPECT_EQ (panel->progressLabel->getText(), Expected::text ("panel.statusPrefix"));
}

//==============================================================================
TEST_F (PanelTest, LayoutInTheMainWindowSize)
{
    EXPECT_EQ (window->getBounds().withZeroOrigin(), Expected::size ("mainWindow.size"));
    ASSERT_EQ (panel->getLocalBounds(), Expected::area ("mainWindow.panelBoundsInWindow").withZeroOrigin());

    EXPECT_EQ (panel->infoLabel->getBounds(),     Expected::area ("panelLayout.info"));
    EXPECT_EQ (panel->helpButton->getBounds(),    Expected::area ("panelLayout.helpButton"));
    EXPECT_EQ (panel->step1Label->getBounds(),    Expected::area ("panelLayout.step1"));
    EXPECT_EQ (panel->midiInterface->getBounds(), Expected::area ("panelLayout.outputs"));
    EXPECT_EQ (panel->step2Label->getBounds(),    Expected::area ("panelLayout.step2"));
    EXPECT_EQ (panel->updateButton->getBounds(),  Expected::area ("panelLayout.updateButton"));
    EXPECT_EQ (panel->progressBar->getBounds(),   Expected::area ("panelLayout.progressBar"));
    // JUCE 7.0.5 sizes an attached label as its border (2) + 6 + the font
    // height rounded up from 15.5: 24 pixels, its bottom on the bar's top.
    EXPECT_EQ (panel->progressLabel->getBounds(), Expected::area ("panelLayout.statusLine"));

    EXPECT_EQ (panel->progressBar->getRight(), panel->updateButton->getX());
    EXPECT_EQ (panel->helpWindow->getBounds(), expectedHelpWindowBounds());
}

TEST_F (PanelTest, LayoutFollowsThePanelWidthAndReCentresTheHelpWindow)
{
    panel->helpWindow->setBounds (3, 4, 300, 200);
    panel->setSize (800, panel->getHeight());

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
    EXPECT_EQ (helpWindow->getName(), Expected::text ("helpWindow.title"));
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

    EXPECT_EQ (panel->progressLabel->getText(), statusLineSaying ({}));
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
        statusLineSaying (Expected::text ("status.uploading")),
        statusLineSaying (Expected::text ("status.complete")),
        statusLineSaying (Expected::text ("status.disconnected", { { "n", "3,065" }, { "total", "3,065" } })),
        statusLineSaying (Expected::text ("status.stoppedResponding", { { "n", "3,064" }, { "total", "3,065" } })),
        statusLineSaying (Expected::text ("status.notSent", { { "n", "3,065" }, { "total", "3,065" } })),
        statusLineSaying (Expected::text ("status.programFileDamaged")),
        statusLineSaying (Expected::text ("status.imageDamaged", { { "offset", "12259619" } })),
        Expected::text ("panel.notConnected", { { "name", "Virtual Pedal" } }),
        Expected::text ("panel.notOpened", { { "name", "Virtual Pedal" } }),
    };

    const auto* label = panel->progressLabel;
    const auto room = (float) label->getBorderSize().subtractedFrom (label->getLocalBounds()).getWidth()
                    / juce::Font::getDefaultMinimumHorizontalScaleFactor();

    for (const auto& line : lines)
        EXPECT_LE (label->getFont().getStringWidthFloat (line), room) << line;
}
