// The stand-in MIDI service, driven through JUCE's real Linux MIDI back end: what
// the other tests rely on when they list, open and send to virtual ports.

#include "VirtualMidi.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <juce_audio_devices/juce_audio_devices.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

namespace
{
    using Bytes = std::vector<std::uint8_t>;

    std::int64_t nowNs()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds> (std::chrono::steady_clock::now().time_since_epoch()).count();
    }

    /** A complete SysEx message of this total length, 0xF0 to 0xF7. */
    Bytes makeSysex (std::size_t length, int seed = 0)
    {
        Bytes bytes (length);

        for (std::size_t i = 0; i < length; ++i)
            bytes[i] = (std::uint8_t) ((i * 7 + (std::size_t) seed * 13 + 3) & 0x7f);

        bytes.front() = 0xf0;
        bytes.back() = 0xf7;
        return bytes;
    }

    void send (juce::MidiOutput& output, const Bytes& bytes)
    {
        output.sendMessageNow (juce::MidiMessage (bytes.data(), (int) bytes.size()));
    }

    std::vector<std::string> listedNames()
    {
        std::vector<std::string> names;

        for (const auto& device : juce::MidiOutput::getAvailableDevices())
            names.push_back (device.name.toStdString());

        return names;
    }

    std::unique_ptr<juce::MidiOutput> openByName (const std::string& name)
    {
        for (const auto& device : juce::MidiOutput::getAvailableDevices())
            if (device.name.toStdString() == name)
                return juce::MidiOutput::openDevice (device.identifier);

        return {};
    }

    struct CommandResult
    {
        int exitCode = -1;
        std::string output;
    };

    CommandResult runCaptureCheck (const std::string& arguments)
    {
        const std::string command = std::string (QUILLET_TEST_BINARY_DIR) + "/tools/capture-check/quillet-capture-check "
                                      + arguments + " 2>&1";
        CommandResult result;

        if (auto* pipe = popen (command.c_str(), "r"))
        {
            char buffer[4096];

            while (const auto n = std::fread (buffer, 1, sizeof (buffer), pipe))
                result.output.append (buffer, n);

            const auto status = pclose (pipe);
            result.exitCode = WIFEXITED (status) ? WEXITSTATUS (status) : -1;
        }

        return result;
    }

    void writeFile (const juce::File& file, const Bytes& bytes)
    {
        ASSERT_TRUE (file.replaceWithData (bytes.data(), bytes.size()));
    }

    std::string quoted (const juce::File& file)
    {
        return "'" + file.getFullPathName().toStdString() + "'";
    }
}

//==============================================================================
class VirtualMidiServiceTest  : public testing::Test
{
protected:
    void SetUp() override      { VirtualMidi::reset(); }
    void TearDown() override   { VirtualMidi::reset(); }
};

//==============================================================================
TEST_F (VirtualMidiServiceTest, JuceListsExactlyTheChosenOutputsInOrder)
{
    VirtualMidi::setOutputPorts ({ "A", "B", "C" });

    const auto devices = juce::MidiOutput::getAvailableDevices();
    ASSERT_EQ (devices.size(), 3);
    EXPECT_EQ (devices[0].name, "A");
    EXPECT_EQ (devices[1].name, "B");
    EXPECT_EQ (devices[2].name, "C");

    // Each names its own port, so it opens the right one.
    EXPECT_NE (devices[0].identifier, devices[1].identifier);
    EXPECT_NE (devices[1].identifier, devices[2].identifier);

    // Output ports only: nothing may show up as an input.
    EXPECT_TRUE (juce::MidiInput::getAvailableDevices().isEmpty());
}

TEST_F (VirtualMidiServiceTest, NoPortsMeansAnEmptyList)
{
    EXPECT_TRUE (juce::MidiOutput::getAvailableDevices().isEmpty());

    VirtualMidi::setOutputPorts ({ "A" });
    VirtualMidi::setOutputPorts ({});
    EXPECT_TRUE (juce::MidiOutput::getAvailableDevices().isEmpty());
}

TEST_F (VirtualMidiServiceTest, JucesOwnPortIsNotListedWhileAnOutputIsOpen)
{
    VirtualMidi::setOutputPorts ({ "A", "B", "C" });
    auto output = openByName ("B");
    ASSERT_NE (output, nullptr);

    EXPECT_EQ (listedNames(), (std::vector<std::string> { "A", "B", "C" }));
}

TEST_F (VirtualMidiServiceTest, OpeningConnectsAndClosingDisconnects)
{
    VirtualMidi::setOutputPorts ({ "A", "B" });
    const auto devices = juce::MidiOutput::getAvailableDevices();

    auto output = juce::MidiOutput::openDevice (devices[1].identifier);
    ASSERT_NE (output, nullptr);
    EXPECT_EQ (output->getName(), "B");
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 1);

    output.reset();
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);

    output = juce::MidiOutput::openDevice (devices[0].identifier);
    ASSERT_NE (output, nullptr);
    EXPECT_EQ (output->getName(), "A");
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 1);
}

TEST_F (VirtualMidiServiceTest, ReplacedListTakesEffectOnTheNextListingWhileAnOpenPortKeepsReceiving)
{
    VirtualMidi::setOutputPorts ({ "A", "B" });
    auto output = openByName ("A");
    ASSERT_NE (output, nullptr);

    VirtualMidi::setOutputPorts ({ "X" });
    EXPECT_EQ (listedNames(), (std::vector<std::string> { "X" }));

    send (*output, { 0x90, 0x40, 0x7f });

    const auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), 1u);
    EXPECT_EQ (events[0].port, "A");
}

//==============================================================================
TEST_F (VirtualMidiServiceTest, LargeSysexArrivesAsOneUnchangedEvent)
{
    VirtualMidi::setOutputPorts ({ "A", "B", "C" });
    auto output = openByName ("B");
    ASSERT_NE (output, nullptr);

    const auto block = makeSysex (4009);
    send (*output, block);

    auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), 1u);
    EXPECT_EQ (events[0].port, "B");
    EXPECT_EQ (events[0].bytes, block);

    // Beyond JUCE's first coder size of 4,096 bytes, JUCE must grow its coder.
    VirtualMidi::clearEvents();
    const auto larger = makeSysex (6000, 1);
    send (*output, larger);

    events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), 1u);
    EXPECT_EQ (events[0].bytes, larger);
}

TEST_F (VirtualMidiServiceTest, ShortMessagesArriveByteForByte)
{
    VirtualMidi::setOutputPorts ({ "A" });
    auto output = openByName ("A");
    ASSERT_NE (output, nullptr);

    const std::vector<Bytes> messages {
        { 0x91, 0x3c, 0x64 },   // note on
        { 0x91, 0x3c, 0x00 },   // note on, velocity 0: stays a note on
        { 0x82, 0x3c, 0x40 },   // note off
        { 0xa3, 0x10, 0x20 },   // key pressure
        { 0xb4, 0x07, 0x65 },   // controller
        { 0xc5, 0x11 },         // program change
        { 0xd6, 0x22 },         // channel pressure
        { 0xe7, 0x01, 0x40 },   // pitch bend just above centre
        { 0xef, 0x7f, 0x7f },   // pitch bend at the top
        { 0xe0, 0x00, 0x00 },   // pitch bend at the bottom
        { 0xf2, 0x05, 0x03 },   // song position
        { 0xf3, 0x09 },         // song select
        { 0xf6 },               // tune request
        { 0xf8 },               // clock
        { 0xfc },               // stop
        { 0xf0, 0xf7 },         // empty SysEx
    };

    for (const auto& message : messages)
        send (*output, message);

    const auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), messages.size());

    for (std::size_t i = 0; i < messages.size(); ++i)
        EXPECT_EQ (events[i].bytes, messages[i]) << "message " << i;
}

TEST_F (VirtualMidiServiceTest, CoderSplitsASysexThatDoesNotFitItsBuffer)
{
    // The system library's behaviour, which makes the large-SysEx case above
    // depend on JUCE growing its coder.
    snd_midi_event_t* coder = nullptr;
    ASSERT_EQ (snd_midi_event_new (16, &coder), 0);

    const auto sysex = makeSysex (40);
    std::vector<unsigned int> pieces;
    auto* data = sysex.data();
    long remaining = (long) sysex.size();

    while (remaining > 0)
    {
        snd_seq_event_t event {};
        const auto used = snd_midi_event_encode (coder, data, remaining, &event);
        ASSERT_GT (used, 0);

        data += used;
        remaining -= used;

        if (event.type == SND_SEQ_EVENT_SYSEX)
            pieces.push_back (event.data.ext.len);
    }

    snd_midi_event_free (coder);
    EXPECT_EQ (pieces, (std::vector<unsigned int> { 16, 16, 8 }));
}

TEST_F (VirtualMidiServiceTest, DecoderUsesRunningStatusUntilReset)
{
    snd_midi_event_t* coder = nullptr;
    ASSERT_EQ (snd_midi_event_new (16, &coder), 0);

    snd_seq_event_t event {};
    event.type = SND_SEQ_EVENT_NOTEON;
    event.data.note.channel = 2;
    event.data.note.note = 60;
    event.data.note.velocity = 100;

    unsigned char bytes[8];
    ASSERT_EQ (snd_midi_event_decode (coder, bytes, sizeof (bytes), &event), 3);
    EXPECT_EQ (bytes[0], 0x92);
    ASSERT_EQ (snd_midi_event_decode (coder, bytes, sizeof (bytes), &event), 2);
    EXPECT_EQ (bytes[0], 60);

    snd_midi_event_reset_decode (coder);
    EXPECT_EQ (snd_midi_event_decode (coder, bytes, sizeof (bytes), &event), 3);
    EXPECT_EQ (snd_midi_event_decode (coder, bytes, 1, &event), -ENOMEM);   // two bytes due, room for one

    snd_midi_event_free (coder);
}

//==============================================================================
// As with the kernel: a busy port is listed and JUCE opens it, but the
// connection is refused, so its sends reach no one, and nothing says so.
TEST_F (VirtualMidiServiceTest, ARefusedPortIsListedAndOpenedButNotConnected)
{
    VirtualMidi::setOutputPorts ({ "A", "B" });
    VirtualMidi::setOpenRefused ("B", true);

    EXPECT_EQ (listedNames(), (std::vector<std::string> { "A", "B" }));

    {
        auto b = openByName ("B");
        ASSERT_NE (b, nullptr);
        EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);
        send (*b, makeSysex (9));
        EXPECT_TRUE (VirtualMidi::getEvents().empty());
    }

    VirtualMidi::setOpenRefused ("B", false);
    auto b = openByName ("B");
    ASSERT_NE (b, nullptr);
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 1);
}

// JUCE's client does not block: a send returns at once, and what a stuck port
// cannot take is lost without an error.
TEST_F (VirtualMidiServiceTest, SequencerSendsNeverBlockAndAStuckPortLosesWhatFollows)
{
    VirtualMidi::setOutputPorts ({ "A" });
    VirtualMidi::setStuckAfter ("A", 1);
    auto output = openByName ("A");
    ASSERT_NE (output, nullptr);

    const auto before = nowNs();

    for (int i = 0; i < 3; ++i)
        send (*output, makeSysex (4009, i));

    EXPECT_LT (nowNs() - before, 1'000'000'000);
    EXPECT_EQ (VirtualMidi::getEvents().size(), 1u);
    EXPECT_EQ (VirtualMidi::getNumLostEvents ("A"), 2);
}

TEST_F (VirtualMidiServiceTest, EventsCarryMonotonicStartAndEndTimes)
{
    VirtualMidi::setOutputPorts ({ "A" });
    auto output = openByName ("A");
    ASSERT_NE (output, nullptr);

    const auto before = nowNs();

    for (int i = 0; i < 3; ++i)
    {
        send (*output, makeSysex (50, i));
        std::this_thread::sleep_for (std::chrono::milliseconds (2));
    }

    const auto after = nowNs();
    const auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), 3u);

    for (std::size_t i = 0; i < events.size(); ++i)
    {
        EXPECT_GE (events[i].timeNs, before);
        EXPECT_GE (events[i].endTimeNs, events[i].timeNs);
        EXPECT_LE (events[i].endTimeNs, after);

        if (i > 0)
        {
            // The sleep between the sends lies between the events.
            EXPECT_GE (events[i].timeNs - events[i - 1].endTimeNs, 2'000'000);
        }
    }
}

// The raw MIDI device behind a port with a card: a buffer of 4,096 bytes that
// drains at the port's rate; the message counts from its first byte written
// to its last byte drained; the sequencer port and the raw output exclude
// each other, as the kernel's bridge holds the one output they share.
TEST_F (VirtualMidiServiceTest, RawMidiOutputBuffers4096BytesAndDrainsThemAtThePortsRate)
{
    VirtualMidi::setOutputPorts ({ "A" });
    VirtualMidi::setRawMidiPort ("A", 100'000);

    snd_rawmidi_t* rawMidi = nullptr;
    ASSERT_EQ (snd_rawmidi_open (nullptr, &rawMidi, "hw:0,0,0", SND_RAWMIDI_NONBLOCK), 0);
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 1);

    // JUCE ignores the connection refused to its port: it opens, connected to nothing.
    EXPECT_NE (openByName ("A"), nullptr);
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 1);

    const auto message = makeSysex (5000);
    const auto before = nowNs();
    ASSERT_EQ (snd_rawmidi_write (rawMidi, message.data(), message.size()), 4096);

    auto numWritten = (std::size_t) 4096;

    while (numWritten < message.size())
    {
        const auto written = snd_rawmidi_write (rawMidi, message.data() + numWritten, message.size() - numWritten);
        ASSERT_TRUE (written > 0 || written == -EAGAIN) << written;
        numWritten += (std::size_t) std::max<ssize_t> (written, 0);
    }

    std::this_thread::sleep_for (std::chrono::milliseconds (60));
    const auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), 1u);
    EXPECT_EQ (events[0].bytes, message);
    EXPECT_GE (events[0].timeNs, before);
    EXPECT_EQ (events[0].endTimeNs - events[0].timeNs, 50'000'000);   // 5,000 bytes at 10 us each

    snd_rawmidi_close (rawMidi);
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);

    auto sequencerOutput = openByName ("A");
    ASSERT_NE (sequencerOutput, nullptr);
    EXPECT_EQ (snd_rawmidi_open (nullptr, &rawMidi, "hw:0,0,0", SND_RAWMIDI_NONBLOCK), -EBUSY);
}

TEST_F (VirtualMidiServiceTest, ResetForgetsPortsRefusalsStuckPortsAndEvents)
{
    VirtualMidi::setOutputPorts ({ "A", "B" });

    {
        auto output = openByName ("B");
        ASSERT_NE (output, nullptr);
        send (*output, { 0xc0, 0x01 });
    }

    VirtualMidi::setOpenRefused ("A", true);
    VirtualMidi::setStuckAfter ("A", 0);
    ASSERT_EQ (VirtualMidi::getEvents().size(), 1u);

    VirtualMidi::reset();

    EXPECT_TRUE (VirtualMidi::getEvents().empty());
    EXPECT_TRUE (juce::MidiOutput::getAvailableDevices().isEmpty());

    VirtualMidi::setOutputPorts ({ "A" });
    auto output = openByName ("A");
    ASSERT_NE (output, nullptr);
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 1);   // no longer refused

    send (*output, makeSysex (2000));
    EXPECT_EQ (VirtualMidi::getEvents().size(), 1u);   // no longer stuck
}

TEST_F (VirtualMidiServiceTest, SendingOnOneThreadWhileAnotherOpensAndCloses)
{
    VirtualMidi::setOutputPorts ({ "A", "B" });
    auto output = openByName ("A");
    ASSERT_NE (output, nullptr);

    constexpr int numMessages = 300;
    std::atomic<bool> sending { true };

    std::thread sender ([&]
    {
        for (int i = 0; i < numMessages; ++i)
            send (*output, { 0xb0, 0x07, (std::uint8_t) (i & 0x7f) });

        sending = false;
    });

    int rounds = 0;

    while (sending || rounds == 0)
    {
        auto other = openByName ("B");
        EXPECT_NE (other, nullptr);
        EXPECT_EQ (listedNames().size(), 2u);
        ++rounds;
    }

    sender.join();

    const auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), (std::size_t) numMessages);

    for (int i = 0; i < numMessages; ++i)
    {
        EXPECT_EQ (events[(std::size_t) i].port, "A");
        EXPECT_EQ (events[(std::size_t) i].bytes[2], (std::uint8_t) (i & 0x7f));
    }
}

//==============================================================================
TEST_F (VirtualMidiServiceTest, EnvironmentSetsPortsRefusalAndCapture)
{
    const juce::TemporaryFile capture (".vmidicap");
    const auto capturePath = capture.getFile().getFullPathName().toStdString();

    setenv ("VIRTUAL_MIDI_PORTS", "Virtual Pedal; Busy Synth ;;Third", 1);
    setenv ("VIRTUAL_MIDI_REFUSE", "Busy Synth", 1);
    setenv ("VIRTUAL_MIDI_CAPTURE", capturePath.c_str(), 1);
    VirtualMidi::configureFromEnvironment();

    for (const auto* name : { "VIRTUAL_MIDI_PORTS", "VIRTUAL_MIDI_REFUSE", "VIRTUAL_MIDI_CAPTURE" })
        unsetenv (name);

    EXPECT_EQ (listedNames(), (std::vector<std::string> { "Virtual Pedal", "Busy Synth", "Third" }));
    EXPECT_NE (openByName ("Busy Synth"), nullptr);
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);

    auto output = openByName ("Virtual Pedal");
    ASSERT_NE (output, nullptr);
    send (*output, makeSysex (4009));

    // Written as it arrived: the record is in the file while the capture is still open.
    std::ifstream file (capturePath, std::ios::binary);
    const Bytes written ((std::istreambuf_iterator<char> (file)), std::istreambuf_iterator<char>());
    EXPECT_EQ (written.size(), 16u + 24u + std::string ("Virtual Pedal").size() + 4009u);
}

TEST_F (VirtualMidiServiceTest, CaptureWrittenByTheServicePassesTheChecker)
{
    const juce::TemporaryFile capture (".vmidicap");
    const juce::TemporaryFile image (".syx");

    VirtualMidi::setOutputPorts ({ "Other", "Virtual Pedal" });
    ASSERT_TRUE (VirtualMidi::setCaptureFile (capture.getFile().getFullPathName().toStdString()));

    auto output = openByName ("Virtual Pedal");
    ASSERT_NE (output, nullptr);

    Bytes imageBytes;
    const std::size_t lengths[] = { 9, 4009, 4009, 600, 9 };

    for (int i = 0; i < 5; ++i)
    {
        const auto message = makeSysex (lengths[i], i);
        imageBytes.insert (imageBytes.end(), message.begin(), message.end());

        const auto start = nowNs();
        send (*output, message);

        while (nowNs() - start < 16'000'000)
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }

    writeFile (image.getFile(), imageBytes);

    const auto result = runCaptureCheck (quoted (capture.getFile()) + " " + quoted (image.getFile()));
    EXPECT_EQ (result.exitCode, 0) << result.output;
    EXPECT_NE (result.output.find ("messages received: 5 of 5"), std::string::npos) << result.output;
    EXPECT_NE (result.output.find ("events to \"Virtual Pedal\": 5"), std::string::npos) << result.output;

    // The same capture against an image with one byte changed fails.
    imageBytes[9 + 100] ^= 0x01;
    writeFile (image.getFile(), imageBytes);

    const auto changed = runCaptureCheck (quoted (capture.getFile()) + " " + quoted (image.getFile()));
    EXPECT_EQ (changed.exitCode, 1) << changed.output;
    EXPECT_NE (changed.output.find ("MISMATCH at message 1"), std::string::npos) << changed.output;
}
