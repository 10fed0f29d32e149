// The raw MIDI functions of the system's ALSA library that the updater calls
// to write to the device behind a hardware port, answered by the stand-in
// service for the ports it gave a card. Outputs only: input is never opened.
// Each function asserts what alsa-lib 1.2.8 asserts, so that a call the real
// library would abort on aborts here too.

#include "LibraryAssert.h"
#include "RawMidiTypes.h"
#include "VirtualMidiService.h"

#include <cerrno>

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace
{
    VirtualMidiService& service()   { return VirtualMidiService::getInstance(); }
}

extern "C"
{

//==============================================================================
int snd_rawmidi_open (snd_rawmidi_t** in_rmidi, snd_rawmidi_t** out_rmidi, const char* name, int mode)
{
    VIRTUAL_MIDI_ASSERT ((in_rmidi != nullptr || out_rmidi != nullptr) && name != nullptr);

    if (in_rmidi != nullptr || out_rmidi == nullptr)
        return -EINVAL;

    *out_rmidi = nullptr;

    const auto pollFd = timerfd_create (CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);

    if (pollFd < 0)
        return -errno;

    const auto output = service().openRawMidi (name, mode, pollFd);

    if (output < 0)
    {
        close (pollFd);
        return output;
    }

    auto* rawMidi = new _snd_rawmidi();
    rawMidi->output = output;
    rawMidi->pollFd = pollFd;
    *out_rmidi = rawMidi;
    return 0;
}

int snd_rawmidi_close (snd_rawmidi_t* rmidi)
{
    VIRTUAL_MIDI_ASSERT (rmidi != nullptr);

    service().closeRawMidi (rmidi->output);
    close (rmidi->pollFd);
    delete rmidi;
    return 0;
}

ssize_t snd_rawmidi_write (snd_rawmidi_t* rmidi, const void* buffer, size_t size)
{
    VIRTUAL_MIDI_ASSERT (rmidi != nullptr);
    VIRTUAL_MIDI_ASSERT (buffer != nullptr || size == 0);
    return service().writeRawMidi (rmidi->output, static_cast<const std::uint8_t*> (buffer), size);
}

int snd_rawmidi_drain (snd_rawmidi_t* rmidi)
{
    VIRTUAL_MIDI_ASSERT (rmidi != nullptr);
    return service().drainRawMidi (rmidi->output);
}

int snd_rawmidi_drop (snd_rawmidi_t* rmidi)
{
    VIRTUAL_MIDI_ASSERT (rmidi != nullptr);
    return service().dropRawMidi (rmidi->output);
}

//==============================================================================
size_t snd_rawmidi_status_sizeof()
{
    return sizeof (snd_rawmidi_status_t);
}

int snd_rawmidi_status (snd_rawmidi_t* rmidi, snd_rawmidi_status_t* status)
{
    VIRTUAL_MIDI_ASSERT (rmidi != nullptr && status != nullptr);
    const auto avail = service().getRawMidiAvailable (rmidi->output);

    if (avail < 0)
        return (int) avail;

    status->avail = (size_t) avail;
    return 0;
}

size_t snd_rawmidi_status_get_avail (const snd_rawmidi_status_t* status)
{
    VIRTUAL_MIDI_ASSERT (status != nullptr);
    return status->avail;
}

//==============================================================================
size_t snd_rawmidi_params_sizeof()
{
    return sizeof (snd_rawmidi_params_t);
}

int snd_rawmidi_params_current (snd_rawmidi_t* rmidi, snd_rawmidi_params_t* params)
{
    VIRTUAL_MIDI_ASSERT (rmidi != nullptr && params != nullptr);
    params->buffer_size = RawMidiBuffer::size;
    return service().getRawMidiAvailMin (rmidi->output, params->avail_min);
}

size_t snd_rawmidi_params_get_buffer_size (const snd_rawmidi_params_t* params)
{
    VIRTUAL_MIDI_ASSERT (params != nullptr);
    return params->buffer_size;
}

int snd_rawmidi_params_set_avail_min (snd_rawmidi_t* rmidi, snd_rawmidi_params_t* params, size_t val)
{
    VIRTUAL_MIDI_ASSERT (rmidi != nullptr && params != nullptr);
    VIRTUAL_MIDI_ASSERT (val < params->buffer_size);
    params->avail_min = val;
    return 0;
}

int snd_rawmidi_params (snd_rawmidi_t* rmidi, snd_rawmidi_params_t* params)
{
    VIRTUAL_MIDI_ASSERT (rmidi != nullptr && params != nullptr);
    return service().setRawMidiParams (rmidi->output, params->buffer_size, params->avail_min);
}

//==============================================================================
// The descriptor is a timer that becomes readable when the output is ready,
// or at once when the device has gone; the library's translation of what poll
// returned makes that POLLOUT, or the POLLERR | POLLNVAL of a device that has
// gone, as the kernel reports them for the real descriptor.
int snd_rawmidi_poll_descriptors (snd_rawmidi_t* rmidi, struct pollfd* pfds, unsigned int space)
{
    VIRTUAL_MIDI_ASSERT (rmidi != nullptr);

    if (space < 1)
        return 0;

    service().armRawMidiPoll (rmidi->output);
    pfds[0].fd = rmidi->pollFd;
    pfds[0].events = POLLIN;
    pfds[0].revents = 0;
    return 1;
}

int snd_rawmidi_poll_descriptors_revents (snd_rawmidi_t* rmidi, struct pollfd* pfds, unsigned int nfds, unsigned short* revents)
{
    VIRTUAL_MIDI_ASSERT (rmidi != nullptr && pfds != nullptr && revents != nullptr);

    if (nfds != 1)
        return -EINVAL;

    if (service().isRawMidiUnplugged (rmidi->output))
        *revents = POLLERR | POLLNVAL;
    else
        *revents = (pfds[0].revents & POLLIN) != 0 ? POLLOUT : 0;

    return 0;
}

}
