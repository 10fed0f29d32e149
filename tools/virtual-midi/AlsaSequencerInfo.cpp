// The accessors of the sequencer's opaque info records that JUCE's Linux MIDI
// back end and the updater use; each asserts its record, as the library does. Their layout is this stand-in's own
// (SequencerTypes.h). The type accessors, which Wine's driver uses too, are in
// AlsaSequencerWine.cpp.

#include "LibraryAssert.h"
#include "SequencerTypes.h"

extern "C"
{

//==============================================================================
size_t snd_seq_system_info_sizeof()
{
    return sizeof (snd_seq_system_info_t);
}

int snd_seq_system_info_get_cur_clients (const snd_seq_system_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    return info->currentClients;
}

//==============================================================================
size_t snd_seq_client_info_sizeof()
{
    return sizeof (snd_seq_client_info_t);
}

int snd_seq_client_info_get_client (const snd_seq_client_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    return info->client;
}

int snd_seq_client_info_get_num_ports (const snd_seq_client_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    return info->numPorts;
}

int snd_seq_client_info_get_card (const snd_seq_client_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    return info->card;
}

int snd_seq_client_info_get_pid (const snd_seq_client_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    return info->pid;
}

//==============================================================================
size_t snd_seq_port_info_sizeof()
{
    return sizeof (snd_seq_port_info_t);
}

void snd_seq_port_info_set_client (snd_seq_port_info_t* info, int client)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    info->addr.client = (unsigned char) client;
}

void snd_seq_port_info_set_port (snd_seq_port_info_t* info, int port)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    info->addr.port = (unsigned char) port;
}

int snd_seq_port_info_get_port (const snd_seq_port_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    return info->addr.port;
}

const char* snd_seq_port_info_get_name (const snd_seq_port_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    return info->name;
}

unsigned int snd_seq_port_info_get_capability (const snd_seq_port_info_t* info)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    return info->capability;
}

//==============================================================================
size_t snd_seq_query_subscribe_sizeof()
{
    return sizeof (snd_seq_query_subscribe_t);
}

void snd_seq_query_subscribe_set_root (snd_seq_query_subscribe_t* info, const snd_seq_addr_t* addr)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    info->root = *addr;
}

void snd_seq_query_subscribe_set_type (snd_seq_query_subscribe_t* info, snd_seq_query_subs_type_t type)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    info->type = type;
}

void snd_seq_query_subscribe_set_index (snd_seq_query_subscribe_t* info, int index)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    info->index = index;
}

const snd_seq_addr_t* snd_seq_query_subscribe_get_addr (const snd_seq_query_subscribe_t* info)
{
    VIRTUAL_MIDI_ASSERT (info != nullptr);
    return &info->addr;
}

}
