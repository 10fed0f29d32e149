#include "ui/HelpText.h"

#include <gtest/gtest.h>

namespace
{
    // The procedure as the pedal's documentation gives it, one entry per line.
    const char* const expectedLines[] =
    {
        "Firmware Update Procedure. ",
        "The procedure requires a PC with a standard USB Interface and the specified DC power supply. ",
        "",
        "Do following steps before you start the firmware update application on your PC: ",
        " 1. Unplug all cables from the pedal. ",
        " 2. Connect the pedal to a PC with the USB cable. ",
        " 3. Press and hold the LOOP1 footswitch on the pedal. ",
        " 4. Insert the DC power supply plug. ",
        " 5. When the LOOP1 footswitch LED turns from Orange to Off, release the footswitch. ",
        " 6. When all four LEDs turn green the pedal is ready to be connected via USB. ",
        "",
        "Now your PC will recognize the pedal which is ready to receive a new firmware: ",
        " 7. Launch the firmware update application. ",
        " 8. (STEP1) Select the pedal in the combo box (see note). ",
        " 9. (STEP2) Press the update button when it turns green. ",
        "10. Wait for the progress bar to reach 100% and for the pedal to automatically restart. ",
        "",
        "Note: You should select \"USB Audio Device\", if you use Windows XP.",
        "",
        "",
        "Trouble Shooting:",
        " - Please quit any MIDI related application on your PC."
    };
}

TEST (HelpText, Is1027BytesOf22LinesEachEndedByALineFeed)
{
    const auto* utf8 = helpText.toRawUTF8();
    const std::string bytes (utf8);

    EXPECT_EQ (bytes.size(), 1027u);
    EXPECT_EQ (helpText.getNumBytesAsUTF8(), 1027u);
    EXPECT_EQ (std::count (bytes.begin(), bytes.end(), '\n'), 22);
    EXPECT_EQ (std::count (bytes.begin(), bytes.end(), '\r'), 0);
    EXPECT_EQ (std::count (bytes.begin(), bytes.end(), '"'), 2) << "the quotes around USB Audio Device";
    ASSERT_FALSE (bytes.empty());
    EXPECT_EQ (bytes.back(), '\n');

    for (auto c : bytes)
        EXPECT_LT ((unsigned char) c, 0x80) << "the text is plain 8-bit ASCII";
}

TEST (HelpText, MatchesTheProcedureLineByLine)
{
    juce::StringArray lines;
    lines.addTokens (helpText, "\n", {});

    // The final line feed leaves one empty token after the last line.
    ASSERT_EQ (lines.size(), 23);
    EXPECT_TRUE (lines[22].isEmpty());

    for (int i = 0; i < 22; ++i)
        EXPECT_EQ (lines[i], juce::String (expectedLines[i])) << "line " << (i + 1);
}
