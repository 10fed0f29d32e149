// The upload torn down at random moments, 200 times for each way the program
// can tear it down: deleting the protocol object (over the real MIDI
// interface), deleting the update panel, and closing the main window as the
// application does (close button, then the window deleted at shutdown).
//
// Several uploads run side by side, each to its own virtual USB pedal, so that the
// repetitions fit in seconds; each is torn down on its own. Its moment is
// drawn as a number of messages sent (any, all, or the upload's thread ended)
// followed by a random delay of up to one message interval, or as none at
// all: at once, as soon as the upload has been started. So every phase of an
// upload is met however fast the machine runs it. After every teardown: the
// bounded waits returned well within their bounds, the upload's thread has
// left the process, what arrived is an unchanged prefix of the image, and
// nothing arrives on that port afterwards. JUCE's leak detector reports
// anything left over when the program ends, which fails the test.
//
// The windows are hidden: painting them adds nothing to a teardown but time.

#include "FaultTestSupport.h"
#include "app/MainWindow.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <iostream>
#include <random>

using namespace FaultTestSupport;

namespace
{
    constexpr unsigned int seed = 90125;

    // The count is the budget; under a sanitizer fewer repetitions still meet
    // every phase of an upload, in a time a slowed machine can give them.
    constexpr int numRepetitions = MessageLoop::slowdown > 1 ? 40 : 200;
    constexpr int numLanes = 8;

    // 30 messages at 15 ms: an upload takes about 450 ms.
    constexpr int numMessages = 30;
    constexpr int longestDelayMs = 16;

    // The close waits at most 5000 ms and the protocol's destructor at most
    // 2000 ms; either should end within one message's interval.
    constexpr double stopLimitMs = 1000.0;

    using Clock = std::chrono::steady_clock;

    double msSince (Clock::time_point start)
    {
        return std::chrono::duration<double, std::milli> (Clock::now() - start).count();
    }

    //==============================================================================
    /** What a teardown measured. */
    struct Teardown
    {
        double stopMs = 0;          ///< the step that stops the upload's thread
        double deleteMs = 0;        ///< deleting what is left, when that is a step of its own
        size_t eventsAfterStop = 0; ///< events on the carrier's port once the stopping step returned
    };

    /** The objects that carry one upload, built and torn down one of the ways
        the program does it. */
    class UploadCarrier
    {
    public:
        explicit UploadCarrier (std::string portToUse) : port (std::move (portToUse)) {}
        virtual ~UploadCarrier() = default;

        virtual MidiInterfaceClass& getInterface() = 0;

        /** True once the chosen output is open and an upload can be started. */
        virtual bool isReadyToStart() = 0;
        virtual void start() = 0;
        virtual bool hasStarted() = 0;
        virtual bool isUploading() = 0;
        virtual double getPublishedProgress() = 0;
        virtual Teardown tearDown() = 0;

    protected:
        void choose (int itemId)
        {
            auto* selector = findOutputSelector (getInterface());
            ASSERT_NE (selector, nullptr);
            selector->setSelectedId (itemId);
        }

        const std::string port;
    };

    //==============================================================================
    /** A protocol object over the real MIDI interface, deleted first, as the
        panel deletes it. */
    class ProtocolCarrier  : public UploadCarrier
    {
    public:
        ProtocolCarrier (std::string portToUse, int itemId, const TestImage& image)
            : UploadCarrier (std::move (portToUse))
        {
            record.streamData = image.bytes.data();
            record.streamSize = (juce::int64) image.bytes.size();
            record.streamSha256 = {};
            record.fixedPacing = 1;

            midiInterface = std::make_unique<MidiInterfaceClass>();
            protocol = std::make_unique<BasicSysexProtocolClass> (midiInterface.get(), &record);
            choose (itemId);
        }

        MidiInterfaceClass& getInterface() override   { return *midiInterface; }
        bool isReadyToStart() override                { return midiInterface->isConnected(); }
        void start() override                         { protocol->startProtocol(); }
        bool hasStarted() override                    { return true; }
        bool isUploading() override                   { return protocol->isThreadRunning(); }
        double getPublishedProgress() override        { return protocol->progress.load(); }

        Teardown tearDown() override
        {
            Teardown result;
            const auto start = Clock::now();
            protocol.reset();
            result.stopMs = msSince (start);
            result.eventsAfterStop = countEventsOn (port);
            midiInterface.reset();
            return result;
        }

    private:
        FirmwareImageClass record;
        std::unique_ptr<MidiInterfaceClass> midiInterface;
        std::unique_ptr<BasicSysexProtocolClass> protocol;
    };

    //==============================================================================
    /** An update panel in a window, started with its update button and
        deleted with its window. */
    class PanelCarrier  : public UploadCarrier
    {
    public:
        PanelCarrier (std::string portToUse, int itemId, const TestImage& image)
            : UploadCarrier (std::move (portToUse)),
              window (std::make_unique<PanelHostWindow>())
        {
            window->setVisible (false);
            useImage (*window->panel, image);
            choose (itemId);
        }

        MidiInterfaceClass& getInterface() override   { return *window->panel->midiInterface; }
        bool isReadyToStart() override                { return window->panel->updateButton->isEnabled(); }
        void start() override                         { window->panel->updateButton->triggerClick(); }
        bool hasStarted() override                    { return window->panel->protocol->getUploadState() != ProgressClass::UploadState::idle; }
        bool isUploading() override                   { return window->panel->protocol->isThreadRunning(); }
        double getPublishedProgress() override        { return window->panel->protocol->progress.load(); }

        Teardown tearDown() override
        {
            Teardown result;
            const auto start = Clock::now();
            window.reset();
            result.stopMs = msSince (start);
            result.eventsAfterStop = countEventsOn (port);
            return result;
        }

    private:
        std::unique_ptr<PanelHostWindow> window;
    };

    //==============================================================================
    /** Stands in for the framework's application object: it notes the quit
        that closing the main window asks for, where the framework would end
        the message loop and then have the window deleted. */
    class QuitRecordingApplication  : public juce::JUCEApplication
    {
    public:
        const juce::String getApplicationName() override      { return Expected::text ("application.name"); }
        const juce::String getApplicationVersion() override   { return "1.0"; }
        void initialise (const juce::String&) override        {}
        void shutdown() override                              {}
        void systemRequestedQuit() override                   { ++numQuitRequests; }

        int numQuitRequests = 0;
    };

    /** The main window, closed with its close button and then deleted, as the
        application's shutdown does. */
    class MainWindowCarrier  : public UploadCarrier
    {
    public:
        MainWindowCarrier (std::string portToUse, int itemId, const TestImage& image, QuitRecordingApplication& appToUse)
            : UploadCarrier (std::move (portToUse)),
              app (appToUse),
              window (std::make_unique<MainWindow> (juce::String()))
        {
            window->centreWithSize (MainWindow::width, MainWindow::height);
            window->setVisible (false);
            useImage (*getPanel(), image);
            choose (itemId);
        }

        MidiInterfaceClass& getInterface() override   { return *getPanel()->midiInterface; }
        bool isReadyToStart() override                { return getPanel()->updateButton->isEnabled(); }
        void start() override                         { getPanel()->updateButton->triggerClick(); }
        bool hasStarted() override                    { return getPanel()->protocol->getUploadState() != ProgressClass::UploadState::idle; }
        bool isUploading() override                   { return getPanel()->protocol->isThreadRunning(); }
        double getPublishedProgress() override        { return getPanel()->protocol->progress.load(); }

        Teardown tearDown() override
        {
            Teardown result;
            const auto quitsBefore = app.numQuitRequests;

            auto start = Clock::now();
            window->closeButtonPressed();
            result.stopMs = msSince (start);
            result.eventsAfterStop = countEventsOn (port);
            EXPECT_EQ (app.numQuitRequests, quitsBefore + 1) << "closing did not go on to ask for the quit";

            start = Clock::now();
            window.reset();
            result.deleteMs = msSince (start);
            return result;
        }

    private:
        ContentComp* getPanel() const   { return window->getContentComp(); }

        QuitRecordingApplication& app;
        std::unique_ptr<MainWindow> window;
    };

    //==============================================================================
    using CarrierFactory = std::function<std::unique_ptr<UploadCarrier> (const std::string& port, int itemId)>;

    class TeardownAtRandomMoments  : public testing::Test
    {
    protected:
        void SetUp() override
        {
            VirtualMidi::reset();
            std::vector<std::string> ports;

            for (int i = 0; i < numLanes; ++i)
                ports.push_back ("Pedal " + std::to_string (i + 1));

            VirtualMidi::setOutputPorts (ports);
            TestUtilities::makeUsbPedals (ports);
            juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel);
        }

        void TearDown() override
        {
            juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
            VirtualMidi::reset();
        }

        /** Runs the repetitions over parallel lanes, one port per lane, until
            every one has been torn down and checked. */
        void runRepetitions (const char* kind, const CarrierFactory& makeCarrier)
        {
            SCOPED_TRACE (juce::String ("random seed ") + juce::String (seed));

            std::mt19937 random (seed);
            std::uniform_int_distribution<int> messageCounts (0, numMessages + 1);
            std::uniform_int_distribution<int> delays (0, longestDelayMs);
            std::array<Lane, numLanes> lanes;
            int numBegun = 0, numDone = 0;
            const auto began = Clock::now();

            const auto beginRepetition = [&] (Lane& lane)
            {
                lane.repetition = numBegun++;
                lane.numMessagesToWaitFor = messageCounts (random);
                lane.delayMs = delays (random);

                // With no message to wait for: at once, as soon as the upload
                // has been started.
                if (lane.numMessagesToWaitFor == 0)
                    lane.delayMs = 0;

                lane.momentReached = false;
                lane.carrier = makeCarrier (lane.port, lane.itemId);
                lane.stage = Stage::choosing;
            };

            for (int i = 0; i < numLanes; ++i)
            {
                lanes[(size_t) i].port = "Pedal " + std::to_string (i + 1);
                lanes[(size_t) i].itemId = i + 1;
                beginRepetition (lanes[(size_t) i]);
            }

            const auto serviceLane = [&] (Lane& lane)
            {
                if (lane.stage == Stage::choosing && lane.carrier->isReadyToStart())
                {
                    // The previous upload on this port sent nothing while the
                    // next one was being set up.
                    lane.eventsBefore = countEventsOn (lane.port);
                    EXPECT_EQ (lane.eventsBefore, lane.eventsAfterTeardown) << describe (lane, "after its teardown");

                    lane.carrier->start();
                    lane.stage = Stage::starting;
                }

                if (lane.stage == Stage::starting && lane.carrier->hasStarted())
                    lane.stage = Stage::running;

                if (lane.stage == Stage::running && ! lane.momentReached)
                {
                    lane.momentReached = hasSent (*lane.carrier, lane.numMessagesToWaitFor);

                    if (lane.momentReached)
                        lane.momentReachedAt = Clock::now();
                }

                if (lane.stage == Stage::running && lane.momentReached && msSince (lane.momentReachedAt) >= lane.delayMs)
                {
                    tearDown (lane);
                    ++numDone;

                    if (numBegun < numRepetitions)
                        beginRepetition (lane);
                    else
                        lane.stage = Stage::finished;
                }
            };

            const auto allDone = MessageLoop::runUntil ([&]
            {
                for (auto& lane : lanes)
                    serviceLane (lane);

                return numDone == numRepetitions;
            }, 120000);

            const auto elapsedMs = msSince (began);

            for (auto& lane : lanes)
                lane.carrier.reset();

            ASSERT_TRUE (allDone) << numDone << " of " << numRepetitions << " repetitions done";

            MessageLoop::runFor (50);

            for (const auto& lane : lanes)
                EXPECT_EQ (countEventsOn (lane.port), lane.eventsAfterTeardown) << lane.port << " received after its last teardown";

            EXPECT_TRUE (waitForNoProtocolThread (200));
            EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);

            std::cout << kind << ": " << numRepetitions << " teardowns on " << numLanes << " lanes in "
                      << juce::roundToInt (elapsedMs) << " ms; moments: "
                      << momentCounts[0] << " before the first message, " << momentCounts[1] << " while sending, "
                      << momentCounts[2] << " after the last message, " << momentCounts[3] << " after the upload ended; "
                      << "longest stop " << longestStopMs << " ms, longest delete " << longestDeleteMs << " ms\n";
        }

        /** The short image every upload sends. */
        const TestImage image { std::vector<int> (numMessages, 9) };

    private:
        enum class Stage { choosing, starting, running, finished };

        struct Lane
        {
            std::string port;
            int itemId = 0;
            int repetition = 0;
            int numMessagesToWaitFor = 0, delayMs = 0;
            bool momentReached = false;
            Clock::time_point momentReachedAt;
            Stage stage = Stage::choosing;
            size_t eventsBefore = 0, eventsAfterTeardown = 0;
            std::unique_ptr<UploadCarrier> carrier;
        };

        /** True once the upload has published the progress of this many messages
            sent; with one more than the image has, once its thread has ended. */
        static bool hasSent (UploadCarrier& carrier, int numMessagesSent)
        {
            if (numMessagesSent > numMessages)
                return ! carrier.isUploading();

            // Rounded to hundredths as the published progress is; with 30
            // messages each count has a hundredth of its own.
            const auto threshold = std::round (numMessagesSent * 100.0 / numMessages) / 100.0;
            return carrier.getPublishedProgress() >= threshold;
        }

        static std::string describe (const Lane& lane, const char* when)
        {
            const auto moment = lane.numMessagesToWaitFor > numMessages ? std::string ("the upload's end")
                                                                         : std::to_string (lane.numMessagesToWaitFor) + " messages";

            return lane.port + ", repetition " + std::to_string (lane.repetition) + " torn down "
                 + std::to_string (lane.delayMs) + " ms after " + moment + ", " + when;
        }

        void tearDown (Lane& lane)
        {
            const auto wasUploading = lane.carrier->isUploading();
            const auto result = lane.carrier->tearDown();
            lane.carrier.reset();
            lane.eventsAfterTeardown = result.eventsAfterStop;

            longestStopMs = std::max (longestStopMs, result.stopMs);
            longestDeleteMs = std::max (longestDeleteMs, result.deleteMs);

            EXPECT_LT (result.stopMs, stopLimitMs) << describe (lane, "stopping the upload");
            EXPECT_LT (result.deleteMs, stopLimitMs) << describe (lane, "deleting the window");

            // What arrived is the image from its first message on, unchanged.
            const auto events = eventsOn (lane.port);
            ASSERT_EQ (events.size(), result.eventsAfterStop);
            const auto numSent = result.eventsAfterStop - lane.eventsBefore;
            ASSERT_LE (numSent, image.messages.size()) << describe (lane, "more messages than the image has");

            for (size_t i = 0; i < numSent; ++i)
                EXPECT_EQ (events[lane.eventsBefore + i].bytes, image.messages[i]) << describe (lane, "message ") << i;

            const auto moment = numSent == 0 ? 0
                              : numSent < image.messages.size() ? 1
                              : wasUploading ? 2 : 3;
            ++momentCounts[(size_t) moment];
        }

        UpdaterLookAndFeel lookAndFeel;
        std::array<int, 4> momentCounts {};
        double longestStopMs = 0, longestDeleteMs = 0;
    };
}

//==============================================================================
TEST_F (TeardownAtRandomMoments, DeletingTheProtocolObject)
{
    runRepetitions ("protocol object", [this] (const std::string& port, int itemId)
    {
        return std::make_unique<ProtocolCarrier> (port, itemId, image);
    });
}

TEST_F (TeardownAtRandomMoments, DeletingThePanel)
{
    runRepetitions ("panel", [this] (const std::string& port, int itemId)
    {
        return std::make_unique<PanelCarrier> (port, itemId, image);
    });
}

TEST_F (TeardownAtRandomMoments, ClosingTheMainWindow)
{
    QuitRecordingApplication app;

    runRepetitions ("main window", [this, &app] (const std::string& port, int itemId)
    {
        return std::make_unique<MainWindowCarrier> (port, itemId, image, app);
    });

    EXPECT_EQ (app.numQuitRequests, numRepetitions);
}
