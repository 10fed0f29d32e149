#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

//==============================================================================
/**
    A general help-window frame: a document window with JUCE's own title bar,
    the updater's background colour and all three title-bar buttons, which
    hides itself when closed instead of going away.

    The window is put on the desktop at construction and starts hidden; its
    owner shows, hides and deletes it.

    Threads: everything is called on the message thread.
*/
class HelpWindowbaseClass  : public juce::DocumentWindow
{
public:
    HelpWindowbaseClass();

    /** Hides the window. The system's close request for the window comes here
        too, so every way of closing it keeps the window and its content. */
    void closeButtonPressed() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HelpWindowbaseClass)
};
