#include "ui/HelpWindowbaseClass.h"

HelpWindowbaseClass::HelpWindowbaseClass()
    : juce::DocumentWindow ("Help",
                            juce::Colour (0xffeff2f3),
                            juce::DocumentWindow::allButtons,
                            true)
{
    JUCE_ASSERT_MESSAGE_THREAD
}

void HelpWindowbaseClass::closeButtonPressed()
{
    JUCE_ASSERT_MESSAGE_THREAD

    setVisible (false);
}
