#include "ui/HelpText.h"

// The text is kept exactly as the pedal's documentation words it, blanks at the
// line ends included.
const juce::String helpText (
    "Firmware Update Procedure. \n"
    "The procedure requires a PC with a standard USB Interface and the specified DC power supply. \n"
    "\n"
    "Do following steps before you start the firmware update application on your PC: \n"
    " 1. Unplug all cables from the pedal. \n"
    " 2. Connect the pedal to a PC with the USB cable. \n"
    " 3. Press and hold the LOOP1 footswitch on the pedal. \n"
    " 4. Insert the DC power supply plug. \n"
    " 5. When the LOOP1 footswitch LED turns from Orange to Off, release the footswitch. \n"
    " 6. When all four LEDs turn green the pedal is ready to be connected via USB. \n"
    "\n"
    "Now your PC will recognize the pedal which is ready to receive a new firmware: \n"
    " 7. Launch the firmware update application. \n"
    " 8. (STEP1) Select the pedal in the combo box (see note). \n"
    " 9. (STEP2) Press the update button when it turns green. \n"
    "10. Wait for the progress bar to reach 100% and for the pedal to automatically restart. \n"
    "\n"
    "Note: You should select \"USB Audio Device\", if you use Windows XP.\n"
    "\n"
    "\n"
    "Trouble Shooting:\n"
    " - Please quit any MIDI related application on your PC.\n");
