#include "midi/RawMidiSysexOutput.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <poll.h>

namespace
{
    using Clock = std::chrono::steady_clock;

    /** The kernel's sequencer-to-rawmidi bridge gives every card one sequencer
        client, and each subdevice S of the card's raw MIDI device D one port of
        it, numbered 32 * D + S (a card has at most 8 raw MIDI devices, so each
        gets 256 / 8 port numbers): port 33 is hw:CARD,1,1. */
    constexpr int portsPerDevice = 256 / 8;

    /** The bridge's ports forward to a physical port (a card's synthesizer
        ports and the virtual raw MIDI cards' ports do not). */
    constexpr unsigned int bridgePortType = SND_SEQ_PORT_TYPE_HARDWARE | SND_SEQ_PORT_TYPE_PORT;

    struct SequencerCloser
    {
        void operator() (snd_seq_t* seq) const noexcept   { snd_seq_close (seq); }
    };
}

//==============================================================================
std::optional<juce::String> RawMidiSysexOutput::findDeviceBehind (const juce::String& identifier)
{
    // The framework names a sequencer port "CLIENT-PORT".
    const auto clientText = identifier.upToFirstOccurrenceOf ("-", false, false);
    const auto portText = identifier.fromFirstOccurrenceOf ("-", false, false);

    if (clientText.isEmpty() || portText.isEmpty()
        || ! clientText.containsOnly ("0123456789") || ! portText.containsOnly ("0123456789"))
        return {};

    const auto client = clientText.getIntValue();
    const auto port = portText.getIntValue();

    if (client > 255 || port > 255)
        return {};

    // A client of our own just for these questions: the framework does not
    // share its own.
    snd_seq_t* opened = nullptr;

    if (snd_seq_open (&opened, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0)
        return {};

    const std::unique_ptr<snd_seq_t, SequencerCloser> seq (opened);

    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_client_info_alloca (&clientInfo);
    snd_seq_port_info_t* portInfo = nullptr;
    snd_seq_port_info_alloca (&portInfo);

    if (snd_seq_get_any_client_info (seq.get(), client, clientInfo) < 0
        || snd_seq_client_info_get_type (clientInfo) != SND_SEQ_KERNEL_CLIENT
        || snd_seq_client_info_get_card (clientInfo) < 0
        || snd_seq_get_any_port_info (seq.get(), client, port, portInfo) < 0
        || (snd_seq_port_info_get_type (portInfo) & bridgePortType) != bridgePortType)
        return {};

    return getDeviceName (snd_seq_client_info_get_card (clientInfo), port);
}

juce::String RawMidiSysexOutput::getDeviceName (int card, int port)
{
    return "hw:" + juce::String (card) + "," + juce::String (port / portsPerDevice) + "," + juce::String (port % portsPerDevice);
}

std::unique_ptr<RawMidiSysexOutput> RawMidiSysexOutput::open (const juce::String& deviceName)
{
    snd_rawmidi_t* opened = nullptr;

    if (snd_rawmidi_open (nullptr, &opened, deviceName.toRawUTF8(), SND_RAWMIDI_NONBLOCK) < 0)
        return {};

    // The output counts as ready for writing only once its whole buffer is
    // free, so waiting for room is also waiting for the device to drain.
    snd_rawmidi_params_t* params = nullptr;
    snd_rawmidi_params_alloca (&params);

    if (snd_rawmidi_params_current (opened, params) < 0
        || snd_rawmidi_params_set_avail_min (opened, params, snd_rawmidi_params_get_buffer_size (params)) < 0
        || snd_rawmidi_params (opened, params) < 0)
    {
        snd_rawmidi_close (opened);
        return {};
    }

    return std::unique_ptr<RawMidiSysexOutput> (new RawMidiSysexOutput (opened, snd_rawmidi_params_get_buffer_size (params)));
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

    for (;;)
    {
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
        }
        else
        {
            snd_rawmidi_status_t* status = nullptr;
            snd_rawmidi_status_alloca (&status);

            if (snd_rawmidi_status (handle, status) < 0)
                return { SendResult::Status::failed, handedOverAt };

            if (snd_rawmidi_status_get_avail (status) >= bufferSize)
                return { SendResult::Status::sent, handedOverAt };
        }

        switch (waitForRoom (deadline))
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

/** Waits until the output is ready (its buffer empty), an error shows, or at
    most 10 ms, so that a thread asked to exit notices it in time. */
RawMidiSysexOutput::Wait RawMidiSysexOutput::waitForRoom (Clock::time_point deadline)
{
    if (juce::Thread::currentThreadShouldExit())
        return Wait::cancelled;

    const auto now = Clock::now();

    if (now >= deadline)
        return Wait::timedOut;

    const auto timeoutMs = std::min<std::chrono::milliseconds::rep> (10, std::chrono::ceil<std::chrono::milliseconds> (deadline - now).count());

    pollfd descriptors[4];
    const auto numDescriptors = snd_rawmidi_poll_descriptors (handle, descriptors, (unsigned int) std::size (descriptors));

    if (numDescriptors <= 0)
        return Wait::failed;

    if (poll (descriptors, (nfds_t) numDescriptors, (int) timeoutMs) < 0 && errno != EINTR)
        return Wait::failed;

    return Wait::ready;
}
