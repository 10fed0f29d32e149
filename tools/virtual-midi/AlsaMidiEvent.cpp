// The MIDI byte stream coder functions of the system's ALSA library that JUCE's
// Linux MIDI back end uses to turn messages into sequencer events and back.

#include "SequencerTypes.h"
#include "VirtualMidiService.h"

#include <cerrno>
#include <new>

extern "C"
{

int snd_midi_event_new (size_t bufsize, snd_midi_event_t** rdev)
{
    if (rdev == nullptr)
        return -EINVAL;

    try
    {
        *rdev = new snd_midi_event (bufsize);
        return 0;
    }
    catch (const std::bad_alloc&)
    {
        *rdev = nullptr;
        return -ENOMEM;
    }
}

void snd_midi_event_free (snd_midi_event_t* dev)
{
    delete dev;
}

void snd_midi_event_reset_encode (snd_midi_event_t* dev)
{
    VirtualMidiService::forgetHandOverStart();
    dev->codec.resetEncoder();
}

void snd_midi_event_reset_decode (snd_midi_event_t* dev)
{
    dev->codec.resetDecoder();
}

long snd_midi_event_encode (snd_midi_event_t* dev, const unsigned char* buf, long count, snd_seq_event_t* ev)
{
    VirtualMidiService::noteHandOverStart();
    return dev->codec.encode (buf, count, *ev);
}

long snd_midi_event_decode (snd_midi_event_t* dev, unsigned char* buf, long count, const snd_seq_event_t* ev)
{
    return dev->codec.decode (buf, count, *ev);
}

}
