#pragma once

#include <juce_graphics/juce_graphics.h>

#include <map>

/** What the program shows, as the tests expect it: the texts, colours and
    positions of tests/expected.json, which the scripts and the screen checker
    read too. The file is kept apart from the program's own constants, so that
    a text changed in the program fails a test until the file follows.

    A key names an entry by its path through the file's groups, such as
    "status.disconnected". A key that the file lacks, an entry of the wrong
    kind, or a placeholder left unfilled ends the test program at once,
    naming the key. */
namespace Expected
{
    /** A text with its placeholders filled: each {name} from the values given,
        or, when the name is another entry's key ({product.name}), from that
        entry. Every value given must fill a placeholder. */
    juce::String text (const juce::String& key, const std::map<juce::String, juce::String>& values = {});

    /** A colour written "#rrggbb", opaque. */
    juce::Colour colour (const juce::String& key);

    /** An area written [x, y, width, height]. */
    juce::Rectangle<int> area (const juce::String& key);

    /** A size written [width, height], as an area at the origin. */
    juce::Rectangle<int> size (const juce::String& key);

    /** A point written [x, y]. */
    juce::Point<int> point (const juce::String& key);

    int number (const juce::String& key);
}
