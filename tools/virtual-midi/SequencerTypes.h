#pragma once

#include "MidiEventCodec.h"

#include <alsa/asoundlib.h>

//==============================================================================
/*
    The sequencer library's opaque types, as this stand-in lays them out. Users
    only ever reach them through the library's functions (the *_alloca macros
    size them with the *_sizeof functions), so the layout is ours to choose.
*/

/** One open connection to the sequencer: one client. */
struct _snd_seq
{
    int clientId = -1;
    int pollFd = -1;            // readable while announcements wait for the client
    int streams = 0;
    bool nonBlocking = false;
    snd_seq_event_t input {};   // the last event taken, kept as the library keeps it until the next
};

struct _snd_seq_system_info
{
    int queues;
    int clients;
    int ports;
    int channels;
    int currentClients;
    int currentQueues;
};

struct _snd_seq_client_info
{
    int client;
    snd_seq_client_type_t type;
    char name[64];
    int numPorts;
    int card;
    int pid;
};

struct _snd_seq_port_info
{
    snd_seq_addr_t addr;
    char name[64];
    unsigned int capability;
    unsigned int type;
    int midiChannels;
    int readUse;
    int writeUse;
};

struct _snd_seq_query_subscribe
{
    snd_seq_addr_t root;
    snd_seq_query_subs_type_t type;
    int index;
    int numSubscriptions;
    snd_seq_addr_t addr;        // the other end of the subscription found at index
};

/** The MIDI byte stream coder handed out by snd_midi_event_new. */
struct snd_midi_event
{
    explicit snd_midi_event (std::size_t bufferSize) : codec (bufferSize) {}

    MidiEventCodec codec;
};
