#include "ui/BrenloHelpWindowContentComp.h"
#include "ui/HelpText.h"

BrenloHelpWindowContentComp::BrenloHelpWindowContentComp()
{
    JUCE_ASSERT_MESSAGE_THREAD

    textEditor = new juce::TextEditor (juce::String(), 0);
    addAndMakeVisible (textEditor);

    textEditor->setMultiLine (true, true);
    textEditor->setReadOnly (true);
    textEditor->setText (helpText);
}

BrenloHelpWindowContentComp::~BrenloHelpWindowContentComp()
{
    JUCE_ASSERT_MESSAGE_THREAD

    deleteAllChildren();
}

void BrenloHelpWindowContentComp::resized()
{
    JUCE_ASSERT_MESSAGE_THREAD

    textEditor->setBounds (0, 0, getWidth(), getHeight());
}
