#include "midi/RawMidiSysexOutput.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <poll.h>

namespace
{
    using Clock = std::chrono::steady_clock;
}

//==============================================================================
std::unique_ptr<RawMidiSysexOutput> RawMidiSysexOutput::open (const juce::String& deviceName)
{
    snd_rawmidi_t* opened = nullptr;

    if (snd_rawmidi_open (nullptr, &opened, deviceName.toRawUTF8(), SND_RAWMIDI_NONBLOCK) < 0)
        return {};

    // The output counts as ready for writing once at most one byte is left in
    // its buffer, the most the library allows (it asserts that avail_min is
    // below the buffer size): a message then goes in whole, and the wait for
    // it to leave sleeps until its last byte is on its way.
    snd_rawmidi_params_t* params = nullptr;
    snd_rawmidi_params_alloca (&params);

    const auto failed = [opened]
    {
        snd_rawmidi_close (opened);
        return std::unique_ptr<RawMidiSysexOutput>();
    };

    if (snd_rawmidi_params_current (opened, params) < 0)
        return failed();

    const auto bufferSize = snd_rawmidi_params_get_buffer_size (params);

    // The kernel refuses an avail_min below 1.
    if (bufferSize < 2
        || snd_rawmidi_params_set_avail_min (opened, params, bufferSize - 1) < 0
        || snd_rawmidi_params (opened, params) < 0)
        return failed();

    return std::unique_ptr<RawMidiSysexOutput> (new RawMidiSysexOutput (opened, bufferSize));
}

RawMidiSysexOutput::RawMidiSysexOutput (_snd_rawmidi* handleToUse, size_t bufferSizeToUse)
    : handle (handleToUse), bufferSize (bufferSizeToUse)
{
}

RawMidiSysexOutput::~RawMidiSysexOutput()
{
    // Closing drains the buffer first, for up to ten seconds if the device has
    // stopped taking bytes; nothing left in it is wanted any more.
    snd_rawmidi_drop (handle);
    snd_rawmidi_close (handle);
}

//==============================================================================
SendResult RawMidiSysexOutput::send (const juce::uint8* bytes, int numBytes)
{
    const auto deadline = Clock::now() + getSendBound (numBytes);
    std::optional<Clock::time_point> handedOverAt;
    auto numWritten = 0;

    // Allocated once: alloca's space lasts until the function returns.
    snd_rawmidi_status_t* status = nullptr;
    snd_rawmidi_status_alloca (&status);

    for (;;)
    {
        auto wait = Wait::ready;

        if (numWritten < numBytes)
        {
            const auto written = snd_rawmidi_write (handle, bytes + numWritten, (size_t) (numBytes - numWritten));

            if (written > 0)
            {
                if (! handedOverAt.has_value())
                    handedOverAt = Clock::now();

                numWritten += (int) written;
                continue;
            }

            if (written < 0 && written != -EAGAIN)
                return { SendResult::Status::failed, handedOverAt };

            wait = waitUntilReady (deadline);
        }
        else
        {
            if (snd_rawmidi_status (handle, status) < 0)
                return { SendResult::Status::failed, handedOverAt };

            const auto available = snd_rawmidi_status_get_avail (status);

            if (available >= bufferSize)
                return { isTakenByTheDevice (status) ? SendResult::Status::sent : SendResult::Status::failed, handedOverAt };

            // Ready already means at most one byte is left, so polling would
            // return at once: the last byte is a moment away, and is slept for.
            wait = available + 1 >= bufferSize ? sleepBriefly (deadline) : waitUntilReady (deadline);
        }

        switch (wait)
        {
            case Wait::ready:
                break;
            case Wait::failed:
                return { SendResult::Status::failed, handedOverAt };
            case Wait::timedOut:
                return { SendResult::Status::timedOut, handedOverAt };
            case Wait::cancelled:
                return { SendResult::Status::cancelled, handedOverAt };
        }
    }
}

bool RawMidiSysexOutput::isPresent()
{
    snd_rawmidi_status_t* status = nullptr;
    snd_rawmidi_status_alloca (&status);
    return snd_rawmidi_status (handle, status) == 0;
}

/** With the buffer empty, the driver may still be transferring the last
    bytes: a USB MIDI driver's drain returns once its own transfers have
    completed (50 ms at most), and only then has the device taken the whole
    message. The kernel's drain first waits for the buffer to empty, for up to
    ten seconds if the device has stopped, so it is only ever asked once it is
    empty. A device that goes while its transfers are out ends them, and the
    drain returns as if they had completed: the device is asked for once more. */
bool RawMidiSysexOutput::isTakenByTheDevice (snd_rawmidi_status_t* status)
{
    return snd_rawmidi_drain (handle) == 0 && snd_rawmidi_status (handle, status) == 0;
}

/** Whether a wait may begin, and for how long at most: never past the
    deadline, and no more than 10 ms at a time, so that a thread asked to exit
    notices it in time. */
RawMidiSysexOutput::Wait RawMidiSysexOutput::getWaitTime (Clock::time_point deadline, int& timeoutMs)
{
    if (juce::Thread::currentThreadShouldExit())
        return Wait::cancelled;

    const auto now = Clock::now();

    if (now >= deadline)
        return Wait::timedOut;

    timeoutMs = (int) std::min<std::chrono::milliseconds::rep> (10, std::chrono::ceil<std::chrono::milliseconds> (deadline - now).count());
    return Wait::ready;
}

/** Waits until the output is ready (at most one byte left in its buffer) or
    the device reports an error. */
RawMidiSysexOutput::Wait RawMidiSysexOutput::waitUntilReady (Clock::time_point deadline)
{
    auto timeoutMs = 0;

    if (const auto canWait = getWaitTime (deadline, timeoutMs); canWait != Wait::ready)
        return canWait;

    pollfd descriptor {};

    if (snd_rawmidi_poll_descriptors (handle, &descriptor, 1) != 1)
        return Wait::failed;

    const auto numReady = poll (&descriptor, 1, timeoutMs);

    if (numReady < 0)
        return errno == EINTR ? Wait::ready : Wait::failed;

    if (numReady == 0)
        return Wait::ready;

    unsigned short events = 0;

    // A device that has gone reports an error (and is invalid) rather than ready.
    if (snd_rawmidi_poll_descriptors_revents (handle, &descriptor, 1, &events) < 0
        || (events & (POLLERR | POLLNVAL | POLLHUP)) != 0)
        return Wait::failed;

    return Wait::ready;
}

RawMidiSysexOutput::Wait RawMidiSysexOutput::sleepBriefly (Clock::time_point deadline)
{
    auto timeoutMs = 0;

    if (const auto canWait = getWaitTime (deadline, timeoutMs); canWait != Wait::ready)
        return canWait;

    juce::Thread::sleep (1);
    return Wait::ready;
}
