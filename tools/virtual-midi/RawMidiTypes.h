#pragma once

#include <alsa/asoundlib.h>

//==============================================================================
/*
    The raw MIDI library's opaque types, as this stand-in lays them out (users
    reach them only through the library's functions; the *_alloca macros size
    them with the *_sizeof functions).
*/

/** One open raw MIDI output. */
struct _snd_rawmidi
{
    int output = -1;        // the service's number for it
    int pollFd = -1;        // a timer that the service sets to fire when the output is ready
};

// Named as the library names them, so that a failed assertion reads the same.
struct _snd_rawmidi_params
{
    size_t buffer_size;
    size_t avail_min;
};

struct _snd_rawmidi_status
{
    size_t avail;
};
