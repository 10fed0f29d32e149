// The accessors of the sequencer's opaque info records that JUCE's Linux MIDI
// back end and the updater use. Their layout is this stand-in's own
// (SequencerTypes.h). The type accessors, which Wine's driver uses too, are in
// AlsaSequencerWine.cpp.

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
    return info->currentClients;
}

//==============================================================================
size_t snd_seq_client_info_sizeof()
{
    return sizeof (snd_seq_client_info_t);
}

int snd_seq_client_info_get_client (const snd_seq_client_info_t* info)
{
    return info->client;
}

int snd_seq_client_info_get_num_ports (const snd_seq_client_info_t* info)
{
    return info->numPorts;
}

int snd_seq_client_info_get_card (const snd_seq_client_info_t* info)
{
    return info->card;
}

//==============================================================================
size_t snd_seq_port_info_sizeof()
{
    return sizeof (snd_seq_port_info_t);
}

void snd_seq_port_info_set_client (snd_seq_port_info_t* info, int client)
{
    info->addr.client = (unsigned char) client;
}

void snd_seq_port_info_set_port (snd_seq_port_info_t* info, int port)
{
    info->addr.port = (unsigned char) port;
    info->openRefused = false;
}

int snd_seq_port_info_get_port (const snd_seq_port_info_t* info)
{
    return info->openRefused ? -1 : info->addr.port;
}

const char* snd_seq_port_info_get_name (const snd_seq_port_info_t* info)
{
    return info->name;
}

unsigned int snd_seq_port_info_get_capability (const snd_seq_port_info_t* info)
{
    return info->capability;
}

}
