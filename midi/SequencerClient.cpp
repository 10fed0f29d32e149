#include "midi/SequencerClient.h"

#include <alsa/asoundlib.h>

#include <cerrno>
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

JUCE_IMPLEMENT_SINGLETON (SequencerClient)

//==============================================================================
SequencerClient::SequencerClient()
{
    snd_seq_t* opened = nullptr;

    if (snd_seq_open (&opened, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0)
        return;

    handle = opened;

    if (auto* app = juce::JUCEApplicationBase::getInstance())
        snd_seq_set_client_name (handle, app->getApplicationName().toRawUTF8());

    // A port that no other program can connect to or sees as a device, where
    // the system's announcements arrive.
    const auto port = snd_seq_create_simple_port (handle, "announcements",
                                                  SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                                  SND_SEQ_PORT_TYPE_APPLICATION);

    listening = port >= 0 && snd_seq_connect_from (handle, port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) == 0;
}

SequencerClient::~SequencerClient()
{
    clearSingletonInstance();

    if (handle != nullptr)
        snd_seq_close (handle);
}

//==============================================================================
juce::Array<juce::MidiDeviceInfo> SequencerClient::getOutputs()
{
    juce::Array<juce::MidiDeviceInfo> outputs;
    const juce::ScopedLock sl (lock);

    if (handle == nullptr)
        return outputs;

    snd_seq_system_info_t* systemInfo = nullptr;
    snd_seq_system_info_alloca (&systemInfo);
    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_client_info_alloca (&clientInfo);
    snd_seq_port_info_t* portInfo = nullptr;
    snd_seq_port_info_alloca (&portInfo);

    if (snd_seq_system_info (handle, systemInfo) < 0)
        return outputs;

    // The framework's own walk, so that the order and the identifiers are its.
    for (auto numClients = snd_seq_system_info_get_cur_clients (systemInfo); --numClients >= 0;)
    {
        if (snd_seq_query_next_client (handle, clientInfo) != 0)
            continue;

        const auto client = snd_seq_client_info_get_client (clientInfo);
        snd_seq_port_info_set_client (portInfo, client);
        snd_seq_port_info_set_port (portInfo, -1);

        for (auto numPorts = snd_seq_client_info_get_num_ports (clientInfo); --numPorts >= 0;)
        {
            if (snd_seq_query_next_port (handle, portInfo) == 0
                && (snd_seq_port_info_get_capability (portInfo) & SND_SEQ_PORT_CAP_SUBS_WRITE) != 0)
            {
                outputs.add ({ juce::String::fromUTF8 (snd_seq_port_info_get_name (portInfo)),
                               juce::String (client) + "-" + juce::String (snd_seq_port_info_get_port (portInfo)) });
            }
        }
    }

    return outputs;
}

std::optional<juce::String> SequencerClient::findRawMidiDeviceBehind (const juce::String& identifier)
{
    const auto address = parseIdentifier (identifier);
    const juce::ScopedLock sl (lock);

    if (! address.has_value() || handle == nullptr)
        return {};

    const auto [client, port] = *address;

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
    const juce::ScopedLock sl (lock);

    if (! address.has_value() || handle == nullptr)
        return false;

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
bool SequencerClient::watch (const juce::String& identifier)
{
    const auto address = parseIdentifier (identifier);
    const juce::ScopedLock sl (lock);

    if (! address.has_value() || handle == nullptr)
        return false;

    // What was announced before is about an earlier life of the port.
    readAnnouncements();

    const auto present = portExists (address->first, address->second);
    watched[*address] = ! present;
    return present;
}

bool SequencerClient::hasLeft (const juce::String& identifier)
{
    const auto address = parseIdentifier (identifier);
    const juce::ScopedLock sl (lock);

    if (! address.has_value())
        return true;

    const auto entry = watched.find (*address);

    if (entry == watched.end())
        return true;

    readAnnouncements();

    if (! listening && ! portExists (address->first, address->second))
        entry->second = true;

    return entry->second;
}

void SequencerClient::stopWatching (const juce::String& identifier)
{
    if (const auto address = parseIdentifier (identifier))
    {
        const juce::ScopedLock sl (lock);
        watched.erase (*address);
    }
}

/** Takes every announcement that has arrived and marks the watched ports it
    says have left. Called with the lock held. */
void SequencerClient::readAnnouncements()
{
    if (! listening)
        return;

    for (;;)
    {
        snd_seq_event_t* event = nullptr;
        const auto result = snd_seq_event_input (handle, &event);

        // Announcements were lost while the input was full: what is watched
        // is looked for instead (one that left and came back goes unseen).
        if (result == -ENOSPC)
        {
            for (auto& entry : watched)
                if (! portExists (entry.first.first, entry.first.second))
                    entry.second = true;

            continue;
        }

        if (result < 0 || event == nullptr)
            return;

        const auto client = (int) event->data.addr.client;

        for (auto& entry : watched)
        {
            if ((event->type == SND_SEQ_EVENT_CLIENT_EXIT && entry.first.first == client)
                || (event->type == SND_SEQ_EVENT_PORT_EXIT && entry.first == std::make_pair (client, (int) event->data.addr.port)))
                entry.second = true;
        }
    }
}

bool SequencerClient::portExists (int client, int port)
{
    snd_seq_port_info_t* portInfo = nullptr;
    snd_seq_port_info_alloca (&portInfo);
    return snd_seq_get_any_port_info (handle, client, port, portInfo) == 0;
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
