#pragma once

#include "ui/HelpWindowbaseClass.h"

//==============================================================================
/**
    The firmware update help window: the help-window frame titled
    "Firmware Update Help", showing the update procedure in a read-only text
    view that fills its content area.

    The window never sizes itself: its owner (the update panel) keeps it at
    550 x 400, centred on the main display.

    Threads: everything is called on the message thread.
*/
class BrenloHelpWindowClass  : public HelpWindowbaseClass
{
public:
    /** Builds the window hidden, with its content. */
    BrenloHelpWindowClass();

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BrenloHelpWindowClass)
};
