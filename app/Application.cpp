#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/RepaintFallback.h"
#include "ui/UpdaterLookAndFeel.h"

Application::Application() = default;

Application::~Application() = default;

const juce::String Application::getApplicationName()    { return "Morphane by Zentrik"; }
const juce::String Application::getApplicationVersion() { return "1.0"; }
bool Application::moreThanOneInstanceAllowed()          { return false; }

void Application::initialise (const juce::String& commandLine)
{
    JUCE_ASSERT_MESSAGE_THREAD

    lookAndFeel = std::make_unique<UpdaterLookAndFeel>();
    juce::LookAndFeel::setDefaultLookAndFeel (lookAndFeel.get());

    mainWindow = std::make_unique<MainWindow> (commandLine);
    mainWindow->centreWithSize (MainWindow::width, MainWindow::height);
    mainWindow->setVisible (true);
    mainWindow->setResizeLimits (MainWindow::width, MainWindow::height, MainWindow::width, MainWindow::height);

   #if JUCE_WINDOWS
    repaintFallback = std::make_unique<RepaintFallback>();
   #endif
}

void Application::shutdown()
{
    JUCE_ASSERT_MESSAGE_THREAD

   #if JUCE_WINDOWS
    repaintFallback.reset();
   #endif
    mainWindow.reset();

    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    lookAndFeel.reset();
}
