// The race in the framework's message-thread lock (juce::MessageManagerLock in
// JUCE 7.0.5), made certain instead of lucky by a timing seam, and the upload
// run under that seam.
//
// The race: the message thread marks the lock gained, the waiting thread sees
// that without waiting, does its work, releases the lock and leaves the scope
// that held it; only then does the message thread signal the event that lived
// in that scope, on the waiting thread's stack. Whatever the stack holds by
// then decides between an abort and a hang. Two link-time wrappers (see
// CMakeLists.txt) recreate the preemptions that open that window: the thread
// that posts to the message queue pauses right after posting, and the message
// thread pauses before every signal it gives.
//
// The first test shows that the seam breaks the framework's lock; the second
// that uploads complete under it, because the upload never takes that lock.

#include "../faults/FaultTestSupport.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using namespace FaultTestSupport;
using namespace std::chrono_literals;

namespace
{
    std::atomic<bool> seamActive { false };

    bool isMessageThread()
    {
        return juce::MessageManager::existsAndIsCurrentThread();
    }

    struct ScopedSeam
    {
        ScopedSeam()    { seamActive = true; }
        ~ScopedSeam()   { seamActive = false; }
    };
}

extern "C"
{
    ssize_t __real_write (int fd, const void* buffer, size_t count);
    void __real__ZNK4juce13WaitableEvent6signalEv (const juce::WaitableEvent* event);

    /** JUCE wakes the message thread by writing one 0xFF byte to its queue's
        socket after posting: the poster is preempted right after it. */
    ssize_t __wrap_write (int fd, const void* buffer, size_t count)
    {
        const auto result = __real_write (fd, buffer, count);

        if (seamActive && count == 1 && *static_cast<const unsigned char*> (buffer) == 0xff && ! isMessageThread())
            std::this_thread::sleep_for (100us);

        return result;
    }

    /** juce::WaitableEvent::signal() as called from the framework's other
        modules: the message thread is preempted just before it signals. */
    void __wrap__ZNK4juce13WaitableEvent6signalEv (const juce::WaitableEvent* event)
    {
        if (seamActive && isMessageThread())
            std::this_thread::sleep_for (300us);

        __real__ZNK4juce13WaitableEvent6signalEv (event);
    }
}

namespace
{
    /** Takes the framework's message-thread lock over and over, as the upload
        once did before every message, and then runs on over the stack where the
        lock lived, as a thread's next calls do. */
    class FrameworkLockTaker  : public juce::Thread
    {
    public:
        FrameworkLockTaker() : juce::Thread ("Lock Taker") {}
        ~FrameworkLockTaker() override    { stopThread (1000); }

        void run() override
        {
            for (int i = 0; i < numLocks && ! threadShouldExit(); ++i)
            {
                takeLock();
                overwriteStack();
                ++locksTaken;
            }
        }

        static constexpr int numLocks = 3000;
        std::atomic<int> locksTaken { 0 };

    private:
        [[gnu::noinline]] static void takeLock()
        {
            const juce::MessageManagerLock lock;
        }

        [[gnu::noinline]] static void overwriteStack()
        {
            volatile unsigned char bytes[4096];

            for (auto& byte : bytes)
                byte = 0xa5;
        }
    };

    constexpr int hangExitCode = 3;

    /** The child's end: 0 when every lock went through, hangExitCode when the
        message thread stopped answering. */
    [[noreturn]] void takeTheFrameworkLockUnderTheSeam()
    {
        std::thread watchdog ([] { std::this_thread::sleep_for (20s); std::_Exit (hangExitCode); });
        watchdog.detach();

        const ScopedSeam seam;
        FrameworkLockTaker taker;
        taker.startThread();

        MessageLoop::runUntil ([&taker] { return ! taker.isThreadRunning(); }, 20000);
        std::fprintf (stderr, "%d locks taken\n", taker.locksTaken.load());
        std::_Exit (taker.locksTaken == FrameworkLockTaker::numLocks ? 0 : hangExitCode);
    }

    /** Anything but an end with every lock taken: a signal, the hang's exit
        code, or a sanitizer's own exit once it has reported what happened. */
    bool diedOrHung (int status)
    {
        return ! (WIFEXITED (status) && WEXITSTATUS (status) == 0);
    }

    class UploadUnderTheSeam  : public FaultPanelTest {};
}

//==============================================================================
TEST (MessageThreadRace, TheSeamBreaksTheFrameworksLock)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");
    EXPECT_EXIT (takeTheFrameworkLockUnderTheSeam(), diedOrHung, "");
}

TEST_F (UploadUnderTheSeam, CompletesWholeUploadsAndAStoppedOneStops)
{
    const TestImage image (std::vector<int> (150, 64));
    openPanel ({ "Virtual Pedal" });
    useImage (*panel, image);
    choose (1);

    const ScopedSeam seam;

    for (int upload = 0; upload < 3; ++upload)
    {
        SCOPED_TRACE ("upload " + juce::String (upload + 1));
        VirtualMidi::clearEvents();

        ASSERT_TRUE (uploadToTheEnd (10000));
        ASSERT_TRUE (waitForStatus (finishedStatus));
        ASSERT_TRUE (MessageLoop::runUntil ([this] { return panel->updateButton->isEnabled(); }, 2000));

        const auto events = VirtualMidi::getEvents();
        ASSERT_EQ (events.size(), image.messages.size());

        for (size_t i = 0; i < events.size(); ++i)
            ASSERT_EQ (events[i].bytes, image.messages[i]) << "message " << i;
    }

    // Stopping an upload, as the window's close button does, ends its thread
    // at the next message boundary.
    VirtualMidi::clearEvents();
    panel->updateButton->triggerClick();
    ASSERT_TRUE (MessageLoop::runUntil ([] { return VirtualMidi::getEvents().size() >= 20; }, 5000));

    const auto stopStart = std::chrono::steady_clock::now();
    EXPECT_TRUE (panel->stopUpload (5000));
    EXPECT_LT (std::chrono::steady_clock::now() - stopStart, 500ms);

    const auto sent = VirtualMidi::getEvents().size();
    MessageLoop::runFor (100);
    EXPECT_EQ (VirtualMidi::getEvents().size(), sent);
    EXPECT_LT (sent, image.messages.size());
}
