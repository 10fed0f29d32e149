#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

//==============================================================================
/**
    The content of the firmware update help window: a read-only, word-wrapped
    text view of the update procedure that covers the whole component.

    Threads: everything is called on the message thread.
*/
class BrenloHelpWindowContentComp  : public juce::Component
{
public:
    BrenloHelpWindowContentComp();

    /** Deletes the text view, then the tooltip window goes with the members. */
    ~BrenloHelpWindowContentComp() override;

    /** Gives the text view the whole component. */
    void resized() override;

private:
    //==============================================================================
    juce::TooltipWindow tooltipWindow;

    /** Owned as a child component; deleted with the other children. */
    juce::TextEditor* textEditor = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BrenloHelpWindowContentComp)
};
