// Runs the built program as separate processes on the test's X display.

#include <Expected.h>
#include <MessageLoop.h>

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

namespace
{
    /** A command's standard output only: xdotool reports X errors (a window
        that vanished during a search, say) on its error output. */
    juce::String run (const juce::StringArray& command)
    {
        juce::ChildProcess process;
        return process.start (command, juce::ChildProcess::wantStdOut) ? process.readAllProcessOutput().trim() : juce::String();
    }

    juce::StringArray findWindows()
    {
        juce::StringArray ids;

        for (auto& line : juce::StringArray::fromLines (run ({ "xdotool", "search", "--name", "^" + Expected::text ("mainWindow.title") + "$" })))
            if (line.isNotEmpty() && line.containsOnly ("0123456789"))
                ids.add (line);

        return ids;
    }

    /** xwininfo's view of a window: "width x height". */
    juce::String sizeOf (const juce::String& windowId)
    {
        const auto info = juce::StringArray::fromLines (run ({ "xwininfo", "-id", windowId }));
        juce::String width, height;

        for (auto& line : info)
        {
            if (line.trim().startsWith ("Width:"))  width  = line.fromFirstOccurrenceOf (":", false, false).trim();
            if (line.trim().startsWith ("Height:")) height = line.fromFirstOccurrenceOf (":", false, false).trim();
        }

        return width + "x" + height;
    }

    bool waitFor (const std::function<bool()>& condition, int timeoutMs)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! condition())
        {
            if (juce::Time::getMillisecondCounter() > end)
                return false;

            juce::Thread::sleep (50);
        }

        return true;
    }
}

TEST (Program, ASecondStartOpensNothingAndLeavesTheFirstWindowAsItWas)
{
    ASSERT_TRUE (juce::File (QUILLET_APP_PATH).existsAsFile());
    ASSERT_TRUE (findWindows().isEmpty()) << "another updater is already running on this display";

    juce::ChildProcess first;
    ASSERT_TRUE (first.start (QUILLET_APP_PATH, 0));
    ASSERT_TRUE (waitFor ([] { return findWindows().size() == 1; }, 20000)) << "the first window never appeared";

    const auto firstWindow = findWindows()[0];
    const auto size = Expected::size ("mainWindow.size");
    EXPECT_EQ (sizeOf (firstWindow), juce::String (size.getWidth()) + "x" + juce::String (size.getHeight()));
    const auto geometryBefore = run ({ "xdotool", "getwindowgeometry", firstWindow });

    juce::ChildProcess second;
    ASSERT_TRUE (second.start (QUILLET_APP_PATH, 0));
    EXPECT_TRUE (second.waitForProcessToFinish (20000)) << "the second start did not end";
    EXPECT_EQ (second.getExitCode(), 0u);

    juce::Thread::sleep (500);
    EXPECT_EQ (findWindows(), juce::StringArray (firstWindow));
    EXPECT_EQ (run ({ "xdotool", "getwindowgeometry", firstWindow }), geometryBefore);
    EXPECT_TRUE (first.isRunning());

    // A click on the title bar's close button (31 x 26 at the right end, inside
    // the 4-pixel border) ends the program.
    run ({ "xdotool", "mousemove", "--sync", "--window", firstWindow, "630", "17", "click", "1" });

    if (! first.waitForProcessToFinish (10000))
    {
        first.kill();
        FAIL() << "closing the window did not end the program";
    }
}
