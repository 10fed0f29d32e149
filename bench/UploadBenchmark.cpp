/*
    upload_benchmark [BYTES_PER_SECOND]: one whole upload of the embedded
    firmware image through MidiInterfaceClass to a USB pedal of the stand-in
    MIDI service (its raw MIDI device drains at BYTES_PER_SECOND, 1,000,000 by
    default), with JUCE's message loop running as in the program, and the
    figures that tell how close the upload comes to its pacing floor and what
    it costs.

    Targets: no gap below 15.000 ms, total time at most 1.01 times the floor of
    3,064 intervals of 15 ms, CPU time at most 2 % of one core.

    Also the cost of the two checks an upload makes besides sending: the hash of
    the embedded copy before the first message, and the look for the pedal
    (before the first message, and after every message where the back end
    cannot tell whether the pedal took it).
*/

#include "upload/BasicSysexProtocolClass.h"
#include "midi/MidiInterfaceClass.h"
#include "VirtualMidi.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace
{
    using Clock = std::chrono::steady_clock;

    const juce::String completeText ("Wait: all LEDs will turn orange, red, orange, then off when complete.");

    double processCpuSeconds()
    {
        rusage usage {};
        getrusage (RUSAGE_SELF, &usage);

        const auto seconds = [] (const timeval& t) { return (double) t.tv_sec + (double) t.tv_usec / 1.0e6; };
        return seconds (usage.ru_utime) + seconds (usage.ru_stime);
    }

    double percentile (std::vector<double> values, double fraction)
    {
        std::sort (values.begin(), values.end());
        const auto index = (size_t) std::min ((double) values.size() - 1.0, fraction * (double) values.size());
        return values[index];
    }

    std::int64_t nowNs()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds> (Clock::now().time_since_epoch()).count();
    }

    /** Runs the check this many times and returns how long each run took, in
        microseconds; nothing once a run fails. */
    std::vector<double> timeEach (int numRuns, const std::function<bool()>& check)
    {
        std::vector<double> times;

        for (int i = 0; i < numRuns; ++i)
        {
            const auto start = Clock::now();

            if (! check())
                return {};

            times.push_back (std::chrono::duration<double, std::micro> (Clock::now() - start).count());
        }

        return times;
    }

    //==============================================================================
    /** The real MIDI interface, noting when each send is called. */
    class TimedMidiInterface  : public MidiInterfaceClass
    {
    public:
        SendResult sendBytes (const juce::uint8* bytes, int numBytes) override
        {
            callStartsNs.push_back (nowNs());
            return MidiInterfaceClass::sendBytes (bytes, numBytes);
        }

        /** Written by the sending thread, read once it has ended. */
        std::vector<std::int64_t> callStartsNs;

        JUCE_LEAK_DETECTOR (TimedMidiInterface)
    };

    /** Prints the spread of the gaps between consecutive times, and those below 15 ms. */
    void printGaps (const char* title, const std::vector<std::int64_t>& timesNs)
    {
        std::vector<double> gapsMs;

        for (size_t i = 1; i < timesNs.size(); ++i)
            gapsMs.push_back ((double) (timesNs[i] - timesNs[i - 1]) / 1.0e6);

        std::printf ("%s\n    min %.3f ms, median %.3f ms, 99th percentile %.3f ms, max %.3f ms\n", title,
                     percentile (gapsMs, 0.0), percentile (gapsMs, 0.5), percentile (gapsMs, 0.99), percentile (gapsMs, 1.0));

        int below = 0;

        for (size_t i = 0; i < gapsMs.size(); ++i)
            if (gapsMs[i] < 15.0 && ++below <= 10)
                std::printf ("%s%.3f ms before message %d", below == 1 ? "    below 15.000 ms: " : ", ", gapsMs[i], (int) i + 1);

        std::printf ("%s    gaps below 15.000 ms: %d  [target 0]\n", below > 0 ? "\n" : "", below);
    }

    //==============================================================================
    /** Ends the message loop once the upload's thread has ended. It starts
        looking only when the final status arrives, so it adds nothing to the
        message thread's load during the upload. */
    class UploadEndWatcher  : public juce::ChangeListener,
                              private juce::Timer
    {
    public:
        explicit UploadEndWatcher (BasicSysexProtocolClass& protocolToWatch)
            : protocol (protocolToWatch)
        {
            protocol.addChangeListener (this);
        }

        ~UploadEndWatcher() override
        {
            protocol.removeChangeListener (this);
        }

        void changeListenerCallback (juce::ChangeBroadcaster*) override
        {
            const auto status = protocol.getStatusText();

            if (status.isNotEmpty() && status != "Uploading firmware" && ! isTimerRunning())
                startTimer (5);
        }

    private:
        void timerCallback() override
        {
            if (! protocol.isThreadRunning())
            {
                stopTimer();
                juce::MessageManager::getInstance()->stopDispatchLoop();
            }
        }

        BasicSysexProtocolClass& protocol;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UploadEndWatcher)
    };
}

//==============================================================================
int main (int argc, char* argv[])
{
    const std::int64_t bytesPerSecond = argc > 1 ? std::atoll (argv[1]) : 1'000'000;

    if (argc > 2 || bytesPerSecond <= 0)
    {
        std::printf ("usage: upload_benchmark [BYTES_PER_SECOND]\n");
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI juceInitialiser;
    auto* messageManager = juce::MessageManager::getInstance();

    VirtualMidi::reset();
    VirtualMidi::setOutputPorts ({ "Q7 Update Port" });
    VirtualMidi::setRawMidiPort ("Q7 Update Port", bytesPerSecond);
    std::printf ("the pedal: a USB MIDI device whose raw MIDI output drains %lld bytes a second\n", (long long) bytesPerSecond);

    FirmwareImageClass image;
    image.fixedPacing = 1;

    TimedMidiInterface midi;
    messageManager->runDispatchLoopUntil (50);
    midi.selectOutput (1);
    messageManager->runDispatchLoopUntil (50);

    if (! midi.isConnected())
    {
        std::printf ("upload_benchmark: the stand-in output could not be opened\n");
        return 1;
    }

    const auto hashUs = timeEach (5, [&image] { return image.streamMatchesItsDigest(); });
    const auto checkUs = timeEach (2000, [&midi] { return midi.isOutputPresent(); });

    if (hashUs.empty() || checkUs.empty())
    {
        std::printf ("upload_benchmark: %s\n", hashUs.empty() ? "the embedded image does not match its digest"
                                                                 : "the stand-in output is not there");
        return 1;
    }

    std::printf ("SHA-256 of the embedded image (%d runs): median %.1f ms, max %.1f ms\n",
                 (int) hashUs.size(), percentile (hashUs, 0.5) / 1000.0, percentile (hashUs, 1.0) / 1000.0);
    std::printf ("one look for the pedal (%d looks): median %.1f us, 99th percentile %.1f us, max %.1f us\n",
                 (int) checkUs.size(), percentile (checkUs, 0.5), percentile (checkUs, 0.99), percentile (checkUs, 1.0));

    VirtualMidi::clearEvents();

    BasicSysexProtocolClass protocol (&midi, &image);
    UploadEndWatcher watcher (protocol);

    const auto cpuBefore = processCpuSeconds();
    const auto wallBefore = Clock::now();

    protocol.startProtocol();
    messageManager->runDispatchLoop();

    const auto wallSeconds = std::chrono::duration<double> (Clock::now() - wallBefore).count();
    const auto cpuSeconds = processCpuSeconds() - cpuBefore;

    //==============================================================================
    const auto events = VirtualMidi::getEvents();

    if (events.size() < 2 || protocol.getStatusText() != completeText)
    {
        std::printf ("upload_benchmark: the upload did not complete (%d messages, status \"%s\")\n",
                     (int) events.size(), protocol.getStatusText().toRawUTF8());
        return 1;
    }

    bool unchanged = true;
    size_t offset = 0;

    for (const auto& event : events)
    {
        unchanged = unchanged && offset + event.bytes.size() <= (size_t) image.streamSize
                      && std::equal (event.bytes.begin(), event.bytes.end(), image.streamData + offset);
        offset += event.bytes.size();
    }

    unchanged = unchanged && offset == (size_t) image.streamSize;

    std::vector<std::int64_t> serviceStartsNs;

    for (const auto& event : events)
        serviceStartsNs.push_back (event.timeNs);

    const auto& callStartsNs = midi.callStartsNs;
    const auto totalSeconds = (double) (callStartsNs.back() - callStartsNs.front()) / 1.0e9;
    const auto floorSeconds = (double) (callStartsNs.size() - 1) * 0.015;
    const auto cpuShare = cpuSeconds / wallSeconds;

    std::printf ("upload of the embedded image: %d messages, %d bytes, %s\n",
                 (int) events.size(), (int) offset, unchanged ? "all unchanged" : "NOT THE IMAGE");
    std::printf ("total time, first to last send: %.3f s = %.4f x the floor of %d x 15 ms (%.3f s)  [target <= 1.01]\n",
                 totalSeconds, totalSeconds / floorSeconds, (int) callStartsNs.size() - 1, floorSeconds);
    printGaps ("gaps between the starts of the calls into the MIDI interface:", callStartsNs);
    printGaps ("gaps between the starts of the sends as the stand-in MIDI service saw them:", serviceStartsNs);
    std::printf ("CPU time of the process during the upload: %.3f s in %.3f s = %.2f %% of one core  [target <= 2 %%]\n",
                 cpuSeconds, wallSeconds, 100.0 * cpuShare);

    return unchanged ? 0 : 1;
}
