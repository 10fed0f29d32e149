// The stand-in against the system's own ALSA library, for the calls that the
// library answers without a device: the same calls, the same answers, the
// same aborts. The real library is loaded into a link namespace of its own,
// so that none of its calls reach the stand-in's definitions linked in here.

#include "VirtualMidi.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <vector>

namespace
{
    /** The functions compared, from one library or the other. */
    struct Library
    {
        decltype (&snd_midi_event_new) eventNew;
        decltype (&snd_midi_event_free) eventFree;
        decltype (&snd_midi_event_encode) encode;
        decltype (&snd_midi_event_encode_byte) encodeByte;
        decltype (&snd_midi_event_decode) decode;
        decltype (&snd_midi_event_reset_decode) resetDecode;
        decltype (&snd_seq_port_info_set_port) setPort;
        decltype (&snd_seq_port_info_get_port) getPort;
        decltype (&snd_seq_port_info_sizeof) portInfoSize;
        decltype (&snd_rawmidi_params_set_avail_min) setAvailMin;
    };

    Library standIn()
    {
        return { snd_midi_event_new, snd_midi_event_free, snd_midi_event_encode, snd_midi_event_encode_byte,
                 snd_midi_event_decode, snd_midi_event_reset_decode, snd_seq_port_info_set_port,
                 snd_seq_port_info_get_port, snd_seq_port_info_sizeof, snd_rawmidi_params_set_avail_min };
    }

    void* realLibrary()
    {
        static void* const handle = dlmopen (LM_ID_NEWLM, "libasound.so.2", RTLD_NOW | RTLD_LOCAL);
        return handle;
    }

    template <typename Function>
    void find (Function& function, const char* name)
    {
        function = reinterpret_cast<Function> (dlsym (realLibrary(), name));
        ASSERT_NE (function, nullptr) << name;
    }

    Library real()
    {
        Library l {};
        find (l.eventNew, "snd_midi_event_new");
        find (l.eventFree, "snd_midi_event_free");
        find (l.encode, "snd_midi_event_encode");
        find (l.encodeByte, "snd_midi_event_encode_byte");
        find (l.decode, "snd_midi_event_decode");
        find (l.resetDecode, "snd_midi_event_reset_decode");
        find (l.setPort, "snd_seq_port_info_set_port");
        find (l.getPort, "snd_seq_port_info_get_port");
        find (l.portInfoSize, "snd_seq_port_info_sizeof");
        find (l.setAvailMin, "snd_rawmidi_params_set_avail_min");
        return l;
    }

    /** What one encoder call made of its input, as the sequencer would get it. */
    struct Encoded
    {
        long result;
        int type;
        std::vector<unsigned char> data;   // a SysEx event's bytes, or a short event's fields

        bool operator== (const Encoded& other) const
        {
            return result == other.result && type == other.type && data == other.data;
        }
    };

    std::vector<unsigned char> contentOf (const snd_seq_event_t& event)
    {
        if (event.type == SND_SEQ_EVENT_SYSEX)
        {
            const auto* bytes = static_cast<const unsigned char*> (event.data.ext.ptr);
            return { bytes, bytes + event.data.ext.len };
        }

        return { event.data.note.channel, event.data.note.note, event.data.note.velocity,
                 (unsigned char) event.data.control.param, (unsigned char) event.data.control.value };
    }

    /** Feeds the stream to a coder of this buffer size, by whole calls and then
        byte by byte, and decodes every event it made back into bytes. */
    std::vector<Encoded> code (const Library& library, size_t bufferSize, const std::vector<unsigned char>& stream)
    {
        std::vector<Encoded> made;
        snd_midi_event_t* coder = nullptr;

        if (library.eventNew (bufferSize, &coder) < 0)
            return made;

        const auto note = [&] (long result, const snd_seq_event_t& event)
        {
            made.push_back ({ result, event.type, contentOf (event) });

            if (result > 0 && event.type != SND_SEQ_EVENT_NONE)
            {
                unsigned char decoded[64] = {};
                const auto length = library.decode (coder, decoded, (long) sizeof (decoded), &event);
                made.push_back ({ length, -1, { decoded, decoded + std::max (length, 0L) } });
            }
        };

        for (size_t position = 0; position < stream.size();)
        {
            snd_seq_event_t event {};
            const auto used = library.encode (coder, stream.data() + position, (long) (stream.size() - position), &event);
            note (used, event);

            if (used <= 0)
                break;

            position += (size_t) used;
        }

        library.resetDecode (coder);

        for (const auto byte : stream)
        {
            snd_seq_event_t event {};
            note (library.encodeByte (coder, byte, &event), event);
        }

        library.eventFree (coder);
        return made;
    }
}

//==============================================================================
class AlsaLibraryAgreement  : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE (realLibrary(), nullptr) << dlerror();
    }
};

TEST_F (AlsaLibraryAgreement, TheByteCoderMakesTheSameEventsAndBytes)
{
    const std::vector<std::vector<unsigned char>> streams {
        { 0xf0, 0x00, 0x21, 0x7a, 0x51, 0x00, 0xf7 },                  // a SysEx that fits
        { 0xf0, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0xf7 },   // one that does not
        { 0x90, 0x3c, 0x64, 0x3d, 0x65, 0xb0, 0x07, 0x7f, 0xc2, 0x05 },   // running status, control, program
        { 0x3c, 0x64, 0xf0, 0x01, 0x90, 0x40, 0x40, 0xf7, 0xf8 },     // stray data, a SysEx cut by a status, real time
    };

    for (const auto& stream : streams)
    {
        SCOPED_TRACE (::testing::PrintToString (stream));
        const auto expected = code (real(), 8, stream);
        ASSERT_FALSE (expected.empty());
        EXPECT_TRUE (code (standIn(), 8, stream) == expected);
    }
}

TEST_F (AlsaLibraryAgreement, APortNumberIsOneByte)
{
    for (const auto& library : { real(), standIn() })
    {
        std::vector<unsigned char> storage (library.portInfoSize());
        auto* info = reinterpret_cast<snd_seq_port_info_t*> (storage.data());
        library.setPort (info, -1);
        EXPECT_EQ (library.getPort (info), 255);
    }
}

// The output's avail_min must stay below its buffer size: the library asserts
// it, whatever the device would accept.
TEST_F (AlsaLibraryAgreement, AnAvailMinOfTheWholeBufferAborts)
{
    auto* const realSetBufferSize = reinterpret_cast<decltype (&snd_rawmidi_params_set_buffer_size)> (dlsym (realLibrary(), "snd_rawmidi_params_set_buffer_size"));
    auto* const realParamsSize = reinterpret_cast<decltype (&snd_rawmidi_params_sizeof)> (dlsym (realLibrary(), "snd_rawmidi_params_sizeof"));
    ASSERT_NE (realSetBufferSize, nullptr);
    ASSERT_NE (realParamsSize, nullptr);

    // The real library needs no device for this: the handle is only checked for null.
    std::vector<unsigned char> realStorage (realParamsSize());
    auto* realParams = reinterpret_cast<snd_rawmidi_params_t*> (realStorage.data());
    auto* const anyHandle = reinterpret_cast<snd_rawmidi_t*> (realStorage.data());
    ASSERT_EQ (realSetBufferSize (anyHandle, realParams, 4096), 0);

    VirtualMidi::setOutputPorts ({ "USB" });
    VirtualMidi::setRawMidiPort ("USB", 1'000'000);
    snd_rawmidi_t* standInHandle = nullptr;
    ASSERT_EQ (snd_rawmidi_open (nullptr, &standInHandle, "hw:0,0,0", SND_RAWMIDI_NONBLOCK), 0);
    snd_rawmidi_params_t* standInParams = nullptr;
    snd_rawmidi_params_alloca (&standInParams);
    ASSERT_EQ (snd_rawmidi_params_current (standInHandle, standInParams), 0);
    ASSERT_EQ (snd_rawmidi_params_get_buffer_size (standInParams), 4096u);

    EXPECT_EQ (real().setAvailMin (anyHandle, realParams, 4095), 0);
    EXPECT_EQ (standIn().setAvailMin (standInHandle, standInParams, 4095), 0);

    const auto* const message = "Assertion `val < params->buffer_size' failed";
    EXPECT_DEATH (real().setAvailMin (anyHandle, realParams, 4096), message);
    EXPECT_DEATH (standIn().setAvailMin (standInHandle, standInParams, 4096), message);

    snd_rawmidi_close (standInHandle);
    VirtualMidi::reset();
}
