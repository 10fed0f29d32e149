// The sequencer functions that Wine's ALSA MIDI driver (winealsa.so) calls
// beyond those of JUCE's Linux back end, so that the Windows program, run under
// Wine with this library preloaded, finds the same virtual ports and sends to
// the same service. Wine reads the client and port records itself (it names a
// device "client - port" and opens it by its address) and builds its SysEx
// events without the byte coder.
//
// After a Wine update compare
// `nm -D --undefined-only /usr/lib/x86_64-linux-gnu/wine/x86_64-unix/winealsa.so | grep -E ' snd_(seq|midi)'`
// with `nm -D --defined-only libvirtual-midi.so`.

#include "LibraryAssert.h"
#include "SequencerTypes.h"
#include "VirtualMidiService.h"

#include <cerrno>

extern "C"
{

//==============================================================================
void snd_seq_client_info_set_client (snd_seq_client_info_t* info, int client)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    info->client = client;
}

snd_seq_client_type_t snd_seq_client_info_get_type (const snd_seq_client_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    return info->type;
}

const char* snd_seq_client_info_get_name (snd_seq_client_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    return info->name;
}

//==============================================================================
const snd_seq_addr_t* snd_seq_port_info_get_addr (const snd_seq_port_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    return &info->addr;
}

unsigned int snd_seq_port_info_get_type (const snd_seq_port_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    return info->type;
}

//==============================================================================
int snd_seq_disconnect_from (snd_seq_t* seq, int my_port, int src_client, int src_port)
{
    if (my_port < 0 || my_port > 255 || src_client < 0 || src_client > 255 || src_port < 0 || src_port > 255)
        return -EINVAL;

    snd_seq_addr_t sender;
    sender.client = (unsigned char) src_client;
    sender.port = (unsigned char) src_port;

    snd_seq_addr_t destination;
    destination.client = (unsigned char) seq->clientId;
    destination.port = (unsigned char) my_port;

    return VirtualMidiService::getInstance().disconnect (sender, destination);
}

//==============================================================================
void snd_midi_event_init (snd_midi_event_t* dev)
{
    dev->codec.resetEncoder();
    dev->codec.resetDecoder();
}

int snd_midi_event_encode_byte (snd_midi_event_t* dev, int c, snd_seq_event_t* ev)
{
    VirtualMidiService::noteHandOverStart();
    return dev->codec.encodeByte (c, *ev);
}

}
