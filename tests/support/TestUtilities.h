#pragma once

#include "MessageLoop.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace TestUtilities
{
    /** Opens a combo box's list as a click on it does (the output selector
        reads the system's devices again then) and closes it again without a
        choice. */
    inline void openAndCloseList (juce::ComboBox& box)
    {
        box.showPopup();
        juce::PopupMenu::dismissAllActiveMenus();
        MessageLoop::runFor (20);
    }
}
