#include "ui/UpdaterLookAndFeel.h"

UpdaterLookAndFeel::UpdaterLookAndFeel()
    : juce::LookAndFeel_V4 (juce::LookAndFeel_V4::getLightColourScheme())
{
}
