#include "midi/SequencerClient.h"

#include <alsa/asoundlib.h>

#include <unistd.h>

namespace
{
    /** The kernel's sequencer-to-rawmidi bridge gives every card one sequencer
        client, and each subdevice S of the card's raw MIDI device D one port of
        it, numbered 32 * D + S (a card has at most 8 raw MIDI devices, so each
        gets 256 / 8 port numbers): port 33 is hw:CARD,1,1. */
    constexpr int portsPerDevice = 256 / 8;

    /** The bridge's ports forward to a physical port (a card's synthesizer
        ports and the virtual raw MIDI cards' ports do not). */
    constexpr unsigned int bridgePortType = SND_SEQ_PORT_TYPE_HARDWARE | SND_SEQ_PORT_TYPE_PORT;
}

//==============================================================================
std::unique_ptr<SequencerClient> SequencerClient::open()
{
    snd_seq_t* opened = nullptr;

    if (snd_seq_open (&opened, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0)
        return {};

    return std::unique_ptr<SequencerClient> (new SequencerClient (opened));
}

SequencerClient::SequencerClient (_snd_seq* handleToUse)
    : handle (handleToUse)
{
}

SequencerClient::~SequencerClient()
{
    snd_seq_close (handle);
}

//==============================================================================
std::optional<juce::String> SequencerClient::findRawMidiDeviceBehind (const juce::String& identifier)
{
    const auto address = parseIdentifier (identifier);

    if (! address.has_value())
        return {};

    const auto [client, port] = *address;
    const juce::ScopedLock sl (lock);

    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_client_info_alloca (&clientInfo);
    snd_seq_port_info_t* portInfo = nullptr;
    snd_seq_port_info_alloca (&portInfo);

    if (snd_seq_get_any_client_info (handle, client, clientInfo) < 0
        || snd_seq_client_info_get_type (clientInfo) != SND_SEQ_KERNEL_CLIENT
        || snd_seq_client_info_get_card (clientInfo) < 0
        || snd_seq_get_any_port_info (handle, client, port, portInfo) < 0
        || (snd_seq_port_info_get_type (portInfo) & bridgePortType) != bridgePortType)
        return {};

    return getRawMidiDeviceName (snd_seq_client_info_get_card (clientInfo), port);
}

bool SequencerClient::isWrittenToByThisProcess (const juce::String& identifier)
{
    const auto address = parseIdentifier (identifier);

    if (! address.has_value())
        return false;

    const juce::ScopedLock sl (lock);

    snd_seq_addr_t root;
    root.client = (unsigned char) address->first;
    root.port = (unsigned char) address->second;

    snd_seq_query_subscribe_t* query = nullptr;
    snd_seq_query_subscribe_alloca (&query);
    snd_seq_query_subscribe_set_root (query, &root);
    snd_seq_query_subscribe_set_type (query, SND_SEQ_QUERY_SUBS_WRITE);

    snd_seq_client_info_t* writer = nullptr;
    snd_seq_client_info_alloca (&writer);

    for (int index = 0;; ++index)
    {
        snd_seq_query_subscribe_set_index (query, index);

        if (snd_seq_query_port_subscribers (handle, query) < 0)
            return false;

        const auto* sender = snd_seq_query_subscribe_get_addr (query);

        if (snd_seq_get_any_client_info (handle, sender->client, writer) == 0
            && snd_seq_client_info_get_pid (writer) == getpid())
            return true;
    }
}

//==============================================================================
juce::String SequencerClient::getRawMidiDeviceName (int card, int port)
{
    return "hw:" + juce::String (card) + "," + juce::String (port / portsPerDevice) + "," + juce::String (port % portsPerDevice);
}

std::optional<std::pair<int, int>> SequencerClient::parseIdentifier (const juce::String& identifier)
{
    const auto clientText = identifier.upToFirstOccurrenceOf ("-", false, false);
    const auto portText = identifier.fromFirstOccurrenceOf ("-", false, false);

    if (clientText.isEmpty() || portText.isEmpty()
        || ! clientText.containsOnly ("0123456789") || ! portText.containsOnly ("0123456789"))
        return {};

    const auto client = clientText.getIntValue();
    const auto port = portText.getIntValue();

    if (client > 255 || port > 255)
        return {};

    return std::make_pair (client, port);
}
