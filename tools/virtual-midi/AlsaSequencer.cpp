// The sequencer functions of the system's ALSA library that JUCE's Linux MIDI
// back end and the updater call, answered by the stand-in service. Each
// asserts what alsa-lib 1.2.8 asserts. The snd_seq_ev_* helpers are macros and
// need nothing here.

#include "LibraryAssert.h"
#include "SequencerTypes.h"
#include "VirtualMidiService.h"

#include <cerrno>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace
{
    VirtualMidiService& service()   { return VirtualMidiService::getInstance(); }

    bool isPortNumber (int port)    { return port >= 0 && port <= 255; }

    snd_seq_addr_t address (int client, int port)
    {
        snd_seq_addr_t result;
        result.client = (unsigned char) client;
        result.port = (unsigned char) port;
        return result;
    }
}

extern "C"
{

//==============================================================================
int snd_seq_open (snd_seq_t** handle, const char* name, int streams, int mode)
{
    VIRTUAL_MIDI_ASSERT (handle != nullptr && name != nullptr);

    *handle = nullptr;

    if (streams != SND_SEQ_OPEN_OUTPUT && streams != SND_SEQ_OPEN_INPUT && streams != SND_SEQ_OPEN_DUPLEX)
        return -EINVAL;

    const auto pollFd = eventfd (0, EFD_CLOEXEC | EFD_NONBLOCK);

    if (pollFd < 0)
        return -errno;

    const auto clientId = service().openClient (pollFd);

    if (clientId < 0)
    {
        close (pollFd);
        return clientId;
    }

    auto* seq = new _snd_seq();
    seq->clientId = clientId;
    seq->pollFd = pollFd;
    seq->streams = streams;
    seq->nonBlocking = (mode & SND_SEQ_NONBLOCK) != 0;
    *handle = seq;
    return 0;
}

int snd_seq_close (snd_seq_t* handle)
{
    VIRTUAL_MIDI_ASSERT (handle != nullptr);

    service().closeClient (handle->clientId);
    close (handle->pollFd);
    delete handle;
    return 0;
}

int snd_seq_nonblock (snd_seq_t* handle, int nonblock)
{
    VIRTUAL_MIDI_ASSERT (handle != nullptr);
    handle->nonBlocking = nonblock != 0;
    return 0;
}

int snd_seq_client_id (snd_seq_t* handle)
{
    VIRTUAL_MIDI_ASSERT (handle != nullptr);
    return handle->clientId;
}

int snd_seq_set_client_name (snd_seq_t* seq, const char* name)
{
    return service().setClientName (seq->clientId, name);
}

//==============================================================================
int snd_seq_system_info (snd_seq_t* handle, snd_seq_system_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (handle != nullptr && info != nullptr);
    service().getSystemInfo (*info);
    return 0;
}

int snd_seq_query_next_client (snd_seq_t* handle, snd_seq_client_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (handle != nullptr && info != nullptr);
    return service().queryNextClient (*info);
}

int snd_seq_query_next_port (snd_seq_t* handle, snd_seq_port_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (handle != nullptr && info != nullptr);
    return service().queryNextPort (*info);
}

// What the updater asks about the port the user chose.
int snd_seq_get_any_client_info (snd_seq_t* handle, int client, snd_seq_client_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (handle != nullptr && info != nullptr && client >= 0);
    return service().getClientInfo (client, *info);
}

int snd_seq_get_any_port_info (snd_seq_t* handle, int client, int port, snd_seq_port_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (handle != nullptr && info != nullptr && client >= 0 && port >= 0);
    return service().getPortInfo (client, port, *info);
}

//==============================================================================
int snd_seq_create_simple_port (snd_seq_t* seq, const char* name, unsigned int caps, unsigned int type)
{
    return service().createPort (seq->clientId, name, caps, type);
}

int snd_seq_delete_simple_port (snd_seq_t* seq, int port)
{
    return service().deletePort (seq->clientId, port);
}

int snd_seq_connect_to (snd_seq_t* seq, int my_port, int dest_client, int dest_port)
{
    if (! (isPortNumber (my_port) && isPortNumber (dest_client) && isPortNumber (dest_port)))
        return -EINVAL;

    return service().connect (seq->clientId, address (seq->clientId, my_port), address (dest_client, dest_port));
}

int snd_seq_connect_from (snd_seq_t* seq, int my_port, int src_client, int src_port)
{
    if (! (isPortNumber (my_port) && isPortNumber (src_client) && isPortNumber (src_port)))
        return -EINVAL;

    return service().connect (seq->clientId, address (src_client, src_port), address (seq->clientId, my_port));
}

//==============================================================================
int snd_seq_event_output_direct (snd_seq_t* handle, snd_seq_event_t* ev)
{
    return service().deliverDirect (handle->clientId, handle->nonBlocking, *ev);
}

int snd_seq_query_port_subscribers (snd_seq_t* seq, snd_seq_query_subscribe_t* subs)
{
    VIRTUAL_MIDI_ASSERT (seq != nullptr && subs != nullptr);
    return service().querySubscribers (*subs);
}

// What a client receives is the system's announcements, once it has
// connected a port of its own to the announce port: its poll descriptor is
// readable while they wait. Nothing else is ever delivered to a client, and
// input that finds nothing says so at once, blocking mode or not.
int snd_seq_poll_descriptors_count (snd_seq_t* handle, short events)
{
    VIRTUAL_MIDI_ASSERT (handle != nullptr);

    if ((events & POLLIN) != 0)
        VIRTUAL_MIDI_ASSERT (handle->streams & SND_SEQ_OPEN_INPUT);

    if ((events & POLLOUT) != 0)
        VIRTUAL_MIDI_ASSERT (handle->streams & SND_SEQ_OPEN_OUTPUT);

    return 1;
}

int snd_seq_poll_descriptors (snd_seq_t* handle, struct pollfd* pfds, unsigned int space, short events)
{
    VIRTUAL_MIDI_ASSERT (handle != nullptr);

    if ((events & POLLIN) != 0)
        VIRTUAL_MIDI_ASSERT (handle->streams & SND_SEQ_OPEN_INPUT);

    if ((events & POLLOUT) != 0)
        VIRTUAL_MIDI_ASSERT (handle->streams & SND_SEQ_OPEN_OUTPUT);

    if (space < 1)
        return 0;

    pfds[0].fd = handle->pollFd;
    pfds[0].events = (short) (events & (POLLIN | POLLOUT));
    pfds[0].revents = 0;
    return 1;
}

int snd_seq_event_input (snd_seq_t* handle, snd_seq_event_t** ev)
{
    VIRTUAL_MIDI_ASSERT (handle != nullptr);

    if (ev != nullptr)
        *ev = nullptr;

    const auto result = service().takeInputEvent (handle->clientId, handle->input);

    if (result >= 0 && ev != nullptr)
        *ev = &handle->input;

    return result;
}

int snd_seq_event_input_pending (snd_seq_t* seq, int /*fetch_sequencer*/)
{
    return service().getNumInputEvents (seq->clientId);
}

int snd_seq_free_event (snd_seq_event_t* /*ev*/)
{
    return 0;
}

}
