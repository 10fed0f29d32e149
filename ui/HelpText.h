#pragma once

#include <juce_core/juce_core.h>

//==============================================================================
/**
    The firmware update procedure shown in the help window: 22 lines of plain
    8-bit text, each ended by a line feed.

    Threads: built before main() runs and only read afterwards, on the message
    thread.
*/
extern const juce::String helpText;
