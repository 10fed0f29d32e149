#include "ui/HelpWindowbaseClass.h"

HelpWindowbaseClass::HelpWindowbaseClass()
    : juce::DocumentWindow ("Help",
                            juce::Colour (0xffeff2f3),
                            juce::DocumentWindow::allButtons,
                            true)
{
}

void HelpWindowbaseClass::closeButtonPressed()
{
    setVisible (false);
}
