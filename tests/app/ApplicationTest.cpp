#include "app/Application.h"
#include "app/MainWindow.h"
#include "firmware/FirmwareImageClass.h"
#include "ui/ContentComp.h"

#include <Expected.h>
#include <MessageLoop.h>
#include <VirtualMidi.h>

#include <gtest/gtest.h>

namespace
{
    /** The application object as the framework would create it, initialised and
        shut down by the test itself. */
    class RunningApplication  : public testing::Test
    {
    protected:
        void SetUp() override
        {
            VirtualMidi::reset();
            app = std::make_unique<Application>();
            app->initialise ({});
            window = app->getMainWindow();
        }

        void TearDown() override
        {
            app->shutdown();
            app.reset();
        }

        std::unique_ptr<Application> app;
        MainWindow* window = nullptr;
    };
}

//==============================================================================
TEST (Application, AnswersTheFrameworksQuestions)
{
    Application app;
    EXPECT_EQ (app.getApplicationName(), Expected::text ("application.name"));
    EXPECT_EQ (app.getApplicationVersion(), "1.0");
    EXPECT_FALSE (app.moreThanOneInstanceAllowed());
    EXPECT_EQ (app.getMainWindow(), nullptr);
}

TEST (MainWindow, TitleCarriesTheRevisionOnlyWhenItIsNotZero)
{
    FirmwareImageClass record;
    record.setName (Expected::text ("product.name"));
    EXPECT_EQ (MainWindow::makeTitle (record), Expected::text ("mainWindow.title"));

    record.revision = 7;
    EXPECT_EQ (MainWindow::makeTitle (record), Expected::text ("mainWindow.titleWithRevision", { { "revision", "7" } }));

    record.revision = -12;
    EXPECT_EQ (MainWindow::makeTitle (record), Expected::text ("mainWindow.titleWithRevision", { { "revision", "-12" } }));
}

//==============================================================================
TEST_F (RunningApplication, ShowsOneFixedWindowCentredOnTheMainDisplay)
{
    ASSERT_NE (window, nullptr);

    EXPECT_EQ (window->getName(), Expected::text ("mainWindow.title"));
    EXPECT_TRUE (window->isVisible());
    EXPECT_TRUE (window->isOnDesktop());
    EXPECT_EQ (window->getBackgroundColour(), Expected::colour ("colours.windowBackground"));
    EXPECT_FALSE (window->isUsingNativeTitleBar());
    EXPECT_EQ (window->getTitleBarHeight(), 26);

    EXPECT_NE (window->getCloseButton(), nullptr);
    EXPECT_EQ (window->getMinimiseButton(), nullptr);
    EXPECT_EQ (window->getMaximiseButton(), nullptr);

    const auto area = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
    const auto size = Expected::size ("mainWindow.size");
    EXPECT_EQ (window->getBounds(), size.withPosition (area.getX() + area.getWidth() / 2 - size.getWidth() / 2,
                                                       area.getY() + area.getHeight() / 2 - size.getHeight() / 2));

    // The panel fills the content area inside the title bar and the resizable border.
    ASSERT_NE (window->getContentComp(), nullptr);
    EXPECT_EQ (window->getContentComponent(), window->getContentComp());
    EXPECT_EQ (window->getContentComp()->getBounds(), Expected::area ("mainWindow.panelBoundsInWindow"));
}

TEST_F (RunningApplication, ResizingByTheBorderLeavesTheWindowAtItsSize)
{
    ASSERT_NE (window, nullptr);
    EXPECT_TRUE (window->isResizable());
    EXPECT_FALSE (window->isUsingNativeTitleBar());

    const auto size = Expected::size ("mainWindow.size");
    auto* constrainer = window->getConstrainer();
    ASSERT_NE (constrainer, nullptr);
    EXPECT_EQ (constrainer->getMinimumWidth(), size.getWidth());
    EXPECT_EQ (constrainer->getMaximumWidth(), size.getWidth());
    EXPECT_EQ (constrainer->getMinimumHeight(), size.getHeight());
    EXPECT_EQ (constrainer->getMaximumHeight(), size.getHeight());

    // This is what the border does with a drag of its bottom-right corner.
    const auto before = window->getBounds();
    constrainer->setBoundsForComponent (window, before.withSize (900, 700), false, false, true, true);
    EXPECT_EQ (window->getBounds(), before);

    constrainer->setBoundsForComponent (window, before.withTrimmedLeft (100).withTrimmedTop (50), true, true, false, false);
    EXPECT_EQ (window->getBounds().withZeroOrigin(), size);
}

// Posting the quit ends this process's message loop for good, so this case
// stays last here (CTest runs every case in a process of its own anyway).
TEST_F (RunningApplication, ClosingWithoutAnUploadAsksTheApplicationToQuitAtOnce)
{
    ASSERT_NE (window, nullptr);
    EXPECT_FALSE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());

    const auto start = juce::Time::getMillisecondCounterHiRes();
    window->closeButtonPressed();
    const auto elapsed = juce::Time::getMillisecondCounterHiRes() - start;

    EXPECT_LT (elapsed, 1000.0);
    EXPECT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());
    EXPECT_EQ (app->getMainWindow(), window) << "the window lives until shutdown";
}
