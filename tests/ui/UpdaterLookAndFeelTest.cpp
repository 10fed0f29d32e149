#include "PanelHost.h"

namespace
{
    /** Dark enough to read on the windows' light background. */
    bool readsDarkOnLight (juce::Colour text)
    {
        return text.getPerceivedBrightness() < 0.4f;
    }
}

TEST_F (PanelTest, EveryTextOfThePanelReadsDark)
{
    for (auto* label : { panel->infoLabel, panel->step1Label, panel->step2Label, panel->progressLabel })
        EXPECT_TRUE (readsDarkOnLight (label->findColour (juce::Label::textColourId))) << label->getText();

    EXPECT_TRUE (readsDarkOnLight (panel->updateButton->findColour (juce::TextButton::textColourOffId)));
    EXPECT_TRUE (readsDarkOnLight (panel->helpButton->findColour (juce::TextButton::textColourOffId)));

    for (auto* child : panel->midiInterface->getChildren())
    {
        if (auto* label = dynamic_cast<juce::Label*> (child))
        {
            EXPECT_TRUE (readsDarkOnLight (label->findColour (juce::Label::textColourId)));
        }

        if (auto* box = dynamic_cast<juce::ComboBox*> (child))
        {
            EXPECT_TRUE (readsDarkOnLight (box->findColour (juce::ComboBox::textColourId)));
        }
    }

    // The colours set explicitly are kept.
    EXPECT_EQ (updateButtonColour(), lightRed);
    EXPECT_EQ (panel->helpButton->findColour (juce::TextButton::buttonColourId).getARGB(), Expected::colour ("colours.helpButton").getARGB());
    EXPECT_EQ (window->getBackgroundColour().getARGB(), Expected::colour ("colours.windowBackground").getARGB());
}

TEST_F (PanelTest, HelpTextReadsDark)
{
    auto* content = panel->helpWindow->getContentComponent();
    ASSERT_NE (content, nullptr);

    for (auto* child : content->getChildren())
    {
        if (auto* editor = dynamic_cast<juce::TextEditor*> (child))
        {
            EXPECT_TRUE (readsDarkOnLight (editor->findColour (juce::TextEditor::textColourId)));
        }
    }

    EXPECT_EQ (panel->helpWindow->getBackgroundColour().getARGB(), Expected::colour ("colours.windowBackground").getARGB());
}
