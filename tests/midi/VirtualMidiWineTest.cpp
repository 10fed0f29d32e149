// The stand-in MIDI service as Wine's ALSA MIDI driver uses it, straight through
// the sequencer library's calls: how the Windows program, run under Wine with
// the service preloaded, lists the virtual ports, opens one by its address and
// sends a SysEx message to it.

#include "VirtualMidi.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace
{
    using Bytes = std::vector<std::uint8_t>;

    struct ListedPort
    {
        std::string name;           // "client - port", as Wine shows it
        snd_seq_addr_t address;
        snd_seq_client_type_t clientType;
        unsigned int portType;
    };

    /** Walks every client and port the way Wine's driver does at start-up and
        keeps those it offers as MIDI outputs: the writable, subscribable ones. */
    std::vector<ListedPort> listOutputsAsWineDoes (snd_seq_t* seq)
    {
        snd_seq_client_info_t* client = nullptr;
        snd_seq_port_info_t* port = nullptr;
        snd_seq_client_info_alloca (&client);
        snd_seq_port_info_alloca (&port);

        std::vector<ListedPort> outputs;
        constexpr auto writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

        snd_seq_client_info_set_client (client, -1);

        while (snd_seq_query_next_client (seq, client) >= 0)
        {
            snd_seq_port_info_set_client (port, snd_seq_client_info_get_client (client));
            snd_seq_port_info_set_port (port, -1);

            while (snd_seq_query_next_port (seq, port) >= 0)
            {
                if ((snd_seq_port_info_get_capability (port) & writable) != writable)
                    continue;

                outputs.push_back ({ std::string (snd_seq_client_info_get_name (client)) + " - " + snd_seq_port_info_get_name (port),
                                     *snd_seq_port_info_get_addr (port),
                                     snd_seq_client_info_get_type (client),
                                     snd_seq_port_info_get_type (port) });
            }
        }

        return outputs;
    }

    /** The service notes per thread when a program began feeding the byte coder,
        until that thread next sends. A fresh thread starts without a note left
        by an earlier test, and leaves none behind. */
    template <typename Body>
    void runOnFreshThread (Body&& body)
    {
        std::thread thread (std::forward<Body> (body));
        thread.join();
    }

    Bytes makeSysex (std::size_t length)
    {
        Bytes bytes (length);

        for (std::size_t i = 0; i < length; ++i)
            bytes[i] = (std::uint8_t) ((i * 5 + 1) & 0x7f);

        bytes.front() = 0xf0;
        bytes.back() = 0xf7;
        return bytes;
    }
}

//==============================================================================
class VirtualMidiWineTest  : public testing::Test
{
protected:
    void SetUp() override
    {
        VirtualMidi::reset();
        VirtualMidi::setOutputPorts ({ "Virtual Pedal", "Second" });
        ASSERT_EQ (snd_seq_open (&seq, "default", SND_SEQ_OPEN_DUPLEX, 0), 0);
        ASSERT_EQ (snd_seq_set_client_name (seq, "WINE midi driver"), 0);
    }

    void TearDown() override
    {
        if (seq != nullptr)
            snd_seq_close (seq);

        VirtualMidi::reset();
    }

    snd_seq_t* seq = nullptr;
};

//==============================================================================
TEST_F (VirtualMidiWineTest, ListsTheVirtualPortsUnderClientAndPortName)
{
    const auto outputs = listOutputsAsWineDoes (seq);

    ASSERT_EQ (outputs.size(), 2u);
    EXPECT_EQ (outputs[0].name, "Virtual Pedal - Virtual Pedal");
    EXPECT_EQ (outputs[1].name, "Second - Second");

    // Wine shows hardware MIDI ports of kernel clients as MIDI ports (not synths).
    for (const auto& output : outputs)
    {
        EXPECT_EQ (output.clientType, SND_SEQ_KERNEL_CLIENT);
        EXPECT_NE (output.portType & SND_SEQ_PORT_TYPE_MIDI_GENERIC, 0u);
        EXPECT_EQ (output.portType & SND_SEQ_PORT_TYPE_SYNTH, 0u);
    }

    EXPECT_NE (outputs[0].address.client, outputs[1].address.client);
}

TEST_F (VirtualMidiWineTest, SysexSentToTheOpenedAddressArrivesUnchanged)
{
    const auto outputs = listOutputsAsWineDoes (seq);
    ASSERT_EQ (outputs.size(), 2u);
    const auto pedal = outputs[0].address;

    // Opening a device: a port of Wine's own, subscribed to the device's address.
    const auto port = snd_seq_create_simple_port (seq, "WINE ALSA Output",
                                                  SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                                  SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    ASSERT_GE (port, 0);
    ASSERT_EQ (snd_seq_connect_to (seq, port, pedal.client, pedal.port), 0);
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 1);

    auto message = makeSysex (4000);

    snd_seq_event_t event;
    snd_seq_ev_clear (&event);
    snd_seq_ev_set_direct (&event);
    snd_seq_ev_set_source (&event, port);
    snd_seq_ev_set_subs (&event);
    // snd_seq_ev_set_sysex, spelled out: the macro's flag arithmetic trips -Wsign-conversion.
    event.type = SND_SEQ_EVENT_SYSEX;
    event.flags = (unsigned char) ((event.flags & ~SND_SEQ_EVENT_LENGTH_MASK) | SND_SEQ_EVENT_LENGTH_VARIABLE);
    event.data.ext.len = (unsigned int) message.size();
    event.data.ext.ptr = message.data();
    EXPECT_GE (snd_seq_event_output_direct (seq, &event), 0);

    const auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), 1u);
    EXPECT_EQ (events[0].port, "Virtual Pedal");
    EXPECT_EQ (events[0].bytes, message);

    // Closing the device deletes the port, and with it the subscription.
    EXPECT_EQ (snd_seq_delete_simple_port (seq, port), 0);
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);
}

TEST_F (VirtualMidiWineTest, DisconnectFromEndsExactlyThatSubscription)
{
    snd_seq_t* other = nullptr;
    ASSERT_EQ (snd_seq_open (&other, "default", SND_SEQ_OPEN_DUPLEX, 0), 0);
    const auto source = snd_seq_create_simple_port (other, "source", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                                    SND_SEQ_PORT_TYPE_MIDI_GENERIC);
    const auto input = snd_seq_create_simple_port (seq, "WINE ALSA Input", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    ASSERT_GE (source, 0);
    ASSERT_GE (input, 0);
    const auto otherClient = snd_seq_client_id (other);

    ASSERT_EQ (snd_seq_connect_from (seq, input, otherClient, source), 0);
    EXPECT_EQ (snd_seq_connect_from (seq, input, otherClient, source), -EBUSY);

    EXPECT_EQ (snd_seq_disconnect_from (seq, input, otherClient, source), 0);
    EXPECT_EQ (snd_seq_disconnect_from (seq, input, otherClient, source), -ENOENT);
    EXPECT_EQ (snd_seq_disconnect_from (seq, input, otherClient, 300), -EINVAL);

    // Gone, so it can be made again.
    EXPECT_EQ (snd_seq_connect_from (seq, input, otherClient, source), 0);

    snd_seq_close (other);
}

//==============================================================================
TEST_F (VirtualMidiWineTest, ByteCoderCompletesEventsAndInitForgetsRunningStatus)
{
    runOnFreshThread ([]
    {
        snd_midi_event_t* coder = nullptr;
        ASSERT_EQ (snd_midi_event_new (16, &coder), 0);

        snd_seq_event_t event {};
        EXPECT_EQ (snd_midi_event_encode_byte (coder, 0x91, &event), 0);
        EXPECT_EQ (snd_midi_event_encode_byte (coder, 60, &event), 0);
        EXPECT_EQ (snd_midi_event_encode_byte (coder, 100, &event), 1);
        EXPECT_EQ (event.type, SND_SEQ_EVENT_NOTEON);
        EXPECT_EQ (event.data.note.channel, 1);
        EXPECT_EQ (event.data.note.note, 60);
        EXPECT_EQ (event.data.note.velocity, 100);

        // Running status: two data bytes make the next note.
        EXPECT_EQ (snd_midi_event_encode_byte (coder, 62, &event), 0);
        EXPECT_EQ (snd_midi_event_encode_byte (coder, 90, &event), 1);
        EXPECT_EQ (event.data.note.note, 62);

        // After init, data bytes without a status byte make nothing.
        snd_midi_event_init (coder);
        EXPECT_EQ (snd_midi_event_encode_byte (coder, 64, &event), 0);
        EXPECT_EQ (snd_midi_event_encode_byte (coder, 80, &event), 0);

        // init resets the decoder too: the next decoded note carries its status byte.
        unsigned char bytes[4];
        snd_seq_event_t note {};
        note.type = SND_SEQ_EVENT_NOTEON;
        note.data.note.note = 60;
        note.data.note.velocity = 1;
        EXPECT_EQ (snd_midi_event_decode (coder, bytes, sizeof (bytes), &note), 3);
        EXPECT_EQ (snd_midi_event_decode (coder, bytes, sizeof (bytes), &note), 2);
        snd_midi_event_init (coder);
        EXPECT_EQ (snd_midi_event_decode (coder, bytes, sizeof (bytes), &note), 3);

        snd_midi_event_free (coder);
    });
}

TEST_F (VirtualMidiWineTest, MessageFedByteByByteCountsAsStartedAtItsFirstByte)
{
    const auto outputs = listOutputsAsWineDoes (seq);
    ASSERT_FALSE (outputs.empty());
    const auto pedal = outputs[0].address;
    std::int64_t firstByteNs = 0;

    runOnFreshThread ([this, pedal, &firstByteNs]
    {
        snd_midi_event_t* coder = nullptr;
        ASSERT_EQ (snd_midi_event_new (16, &coder), 0);

        snd_seq_event_t event {};
        firstByteNs = std::chrono::duration_cast<std::chrono::nanoseconds> (std::chrono::steady_clock::now().time_since_epoch()).count();
        EXPECT_EQ (snd_midi_event_encode_byte (coder, 0x90, &event), 0);
        std::this_thread::sleep_for (std::chrono::milliseconds (20));
        EXPECT_EQ (snd_midi_event_encode_byte (coder, 60, &event), 0);
        EXPECT_EQ (snd_midi_event_encode_byte (coder, 100, &event), 1);
        snd_midi_event_free (coder);

        snd_seq_ev_set_direct (&event);
        snd_seq_ev_set_dest (&event, pedal.client, pedal.port);
        EXPECT_GE (snd_seq_event_output_direct (seq, &event), 0);
    });

    const auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), 1u);
    EXPECT_EQ (events[0].bytes, (Bytes { 0x90, 60, 100 }));

    // Stamped at the first byte, before the 20 ms pause, not at the send after it.
    EXPECT_GE (events[0].timeNs, firstByteNs);
    EXPECT_LT (events[0].timeNs - firstByteNs, 10'000'000);
}
