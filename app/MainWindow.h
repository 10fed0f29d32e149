#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class ContentComp;
class FirmwareImageClass;

//==============================================================================
/**
    The program's one top-level window: a fixed 650 x 400 document window with a
    close button only, titled after the embedded firmware image, whose content is
    the update panel.

    Closing it first asks a running upload to stop and waits a bounded time for
    it, then asks the application to quit.

    Everything here runs on the message thread.
*/
class MainWindow  : public juce::DocumentWindow
{
public:
    static constexpr int width  = 650;
    static constexpr int height = 400;
    static constexpr int closeWaitMs = 5000;

    explicit MainWindow (juce::String commandLine);
    ~MainWindow() override;

    void closeButtonPressed() override;

    /** The title for an image record: name, " version ", version, and " - R" with
        the revision when it is not 0. */
    static juce::String makeTitle (const FirmwareImageClass& image);

    /** The update panel; owned by the window as its content. */
    ContentComp* getContentComp() const noexcept   { return contentComp; }

private:
    //==============================================================================
    ContentComp* contentComp = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};
