#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

//==============================================================================
/**
    The updater's default look: JUCE's current look with its light colour
    scheme. The windows are light (0xffeff2f3), and the dark scheme that JUCE
    uses by default would draw near-white text on them; with the light scheme
    every label, button, selector, progress text and the help text read dark.
    Colours that components set for themselves still take precedence.

    The application installs one instance as the default look before it creates
    its window and removes it again at shutdown, after the window is gone.

    Threads: created, installed and removed on the message thread.
*/
class UpdaterLookAndFeel  : public juce::LookAndFeel_V4
{
public:
    UpdaterLookAndFeel();

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdaterLookAndFeel)
};
