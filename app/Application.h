#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class MainWindow;
class UpdaterLookAndFeel;

#if JUCE_WINDOWS
class RepaintFallback;
#endif

//==============================================================================
/**
    The application object: answers the framework's questions about the program,
    allows a single instance only (keyed by the application name), and owns the
    one main window from initialise() to shutdown().

    Everything here is called by the framework on the message thread.
*/
class Application  : public juce::JUCEApplication
{
public:
    Application();
    ~Application() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    void initialise (const juce::String& commandLine) override;
    void shutdown() override;

    /** The main window while the program runs; null before initialise() and after shutdown(). */
    MainWindow* getMainWindow() const noexcept   { return mainWindow.get(); }

private:
    //==============================================================================
    // The light look every window uses; declared first so that it outlives the
    // windows drawn with it.
    std::unique_ptr<UpdaterLookAndFeel> lookAndFeel;

    std::unique_ptr<MainWindow> mainWindow;

   #if JUCE_WINDOWS
    // Paints the windows where vertical blanks never arrive; goes before them.
    std::unique_ptr<RepaintFallback> repaintFallback;
   #endif

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Application)
};
