#include "ui/BrenloHelpWindowContentComp.h"
#include "ui/HelpText.h"

BrenloHelpWindowContentComp::BrenloHelpWindowContentComp()
{
    textEditor = new juce::TextEditor (juce::String(), 0);
    addAndMakeVisible (textEditor);

    textEditor->setMultiLine (true, true);
    textEditor->setReadOnly (true);
    textEditor->setText (helpText);
}

BrenloHelpWindowContentComp::~BrenloHelpWindowContentComp()
{
    deleteAllChildren();
}

void BrenloHelpWindowContentComp::resized()
{
    textEditor->setBounds (0, 0, getWidth(), getHeight());
}
