#include "VirtualMidiService.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>

#include <sys/timerfd.h>
#include <unistd.h>

namespace
{
    constexpr int systemClient = SND_SEQ_CLIENT_SYSTEM;
    constexpr int firstVirtualClient = 20;
    constexpr int firstUserClient = 128;
    constexpr int maxClients = 192;
    constexpr int maxPortsPerClient = 254;

    constexpr unsigned int virtualPortCapability = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    constexpr unsigned int virtualPortType = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE | SND_SEQ_PORT_TYPE_PORT;
    constexpr int maxCards = 32;

    /** The events a program's client can have waiting before its input
        overflows, as the kernel's default input pool holds. */
    constexpr std::size_t maxInputEvents = 200;
    constexpr std::int64_t rawMidiCloseTimeoutNs = 10'000'000'000;

    /** How long a USB MIDI driver's drain waits for its own transfers to
        complete, once the buffer is empty, before it returns regardless. */
    constexpr std::int64_t transferDrainTimeoutNs = 50'000'000;

    bool isVirtualClient (int clientId)
    {
        return clientId >= firstVirtualClient && clientId < firstUserClient;
    }

    bool sameAddress (snd_seq_addr_t a, snd_seq_addr_t b)
    {
        return a.client == b.client && a.port == b.port;
    }

    snd_seq_addr_t makeAddress (int client, int port)
    {
        snd_seq_addr_t address;
        address.client = (unsigned char) client;
        address.port = (unsigned char) port;
        return address;
    }

    std::int64_t monotonicNow()
    {
        timespec now;
        clock_gettime (CLOCK_MONOTONIC, &now);
        return (std::int64_t) now.tv_sec * 1000000000 + now.tv_nsec;
    }

    void sleepUntil (std::int64_t deadlineNs)
    {
        timespec deadline;
        deadline.tv_sec = (time_t) (deadlineNs / 1000000000);
        deadline.tv_nsec = (long) (deadlineNs % 1000000000);

        while (clock_nanosleep (CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR)
        {
        }
    }

    void copyName (char (&destination)[64], const std::string& name)
    {
        const auto length = std::min (name.size(), sizeof (destination) - 1);
        std::memcpy (destination, name.data(), length);
        destination[length] = 0;
    }

    /** Splits a ';'-separated list, dropping spaces at both ends of each name and empty names. */
    std::vector<std::string> splitNames (const char* list)
    {
        std::vector<std::string> names;
        std::string all (list);
        std::size_t start = 0;

        while (start <= all.size())
        {
            auto end = all.find (';', start);

            if (end == std::string::npos)
                end = all.size();

            auto name = all.substr (start, end - start);
            const auto first = name.find_first_not_of (" \t");

            if (first != std::string::npos)
                names.push_back (name.substr (first, name.find_last_not_of (" \t") - first + 1));

            start = end + 1;
        }

        return names;
    }

    // Sets everything up from the environment when the library is loaded, so a
    // preloaded program finds its ports and its capture file from the start.
    struct LoadTimeSetUp
    {
        LoadTimeSetUp()   { VirtualMidiService::getInstance(); }
    };

    const LoadTimeSetUp loadTimeSetUp;
}

//==============================================================================
VirtualMidiService& VirtualMidiService::getInstance()
{
    static auto* instance = new VirtualMidiService();
    return *instance;
}

VirtualMidiService::VirtualMidiService()
{
    Client system { systemClient, "System", SND_SEQ_KERNEL_CLIENT, {}, -1, -1, -1, {}, false };
    system.ports.push_back ({ 0, "Timer", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_READ, 0 });
    system.ports.push_back ({ 1, "Announce", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ, 0 });
    clients.emplace (systemClient, system);

    configureFromEnvironment();
}

//==============================================================================
void VirtualMidiService::setOutputPorts (const std::vector<std::string>& names)
{
    const std::lock_guard<std::mutex> guard (lock);
    applyOutputPorts (names);
}

void VirtualMidiService::applyOutputPorts (const std::vector<std::string>& names)
{
    // Subscriptions to the old ports stay: an output that is open keeps receiving.
    std::vector<int> old;

    for (const auto& entry : clients)
        if (isVirtualClient (entry.first))
            old.push_back (entry.first);

    for (const auto clientId : old)
        removeClient (clientId);

    auto clientId = firstVirtualClient;

    for (const auto& name : names)
    {
        if (clientId == firstUserClient)
        {
            std::fprintf (stderr, "virtual-midi: too many ports, \"%s\" and those after it are left out\n", name.c_str());
            break;
        }

        addVirtualPort (clientId++, name);
    }

    nextNewVirtualClient = std::max (nextNewVirtualClient, clientId);
}

void VirtualMidiService::addVirtualPort (int clientId, const std::string& name)
{
    Client client { clientId, name, SND_SEQ_KERNEL_CLIENT, {}, -1, -1, -1, {}, false };
    client.ports.push_back ({ 0, name, virtualPortCapability, virtualPortType });

    if (rawMidiRates.count (name) != 0)
        client.card = findFreeCard();

    clients.emplace (clientId, client);
    announce (SND_SEQ_EVENT_CLIENT_START, clientId, 0);
    announce (SND_SEQ_EVENT_PORT_START, clientId, 0);
}

/** As the kernel does when a client goes: its ports' exits are announced,
    then its own. */
void VirtualMidiService::removeClient (int clientId)
{
    const auto it = clients.find (clientId);

    if (it == clients.end())
        return;

    const auto ports = it->second.ports;
    clients.erase (it);

    for (const auto& port : ports)
        announce (SND_SEQ_EVENT_PORT_EXIT, clientId, port.id);

    announce (SND_SEQ_EVENT_CLIENT_EXIT, clientId, 0);
}

//==============================================================================
void VirtualMidiService::announce (snd_seq_event_type_t type, int client, int port)
{
    snd_seq_event_t event {};
    event.type = type;
    event.data.addr = makeAddress (client, port);
    deliverAnnouncement (event);
}

void VirtualMidiService::announceSubscription (snd_seq_event_type_t type, snd_seq_addr_t sender, snd_seq_addr_t destination)
{
    snd_seq_event_t event {};
    event.type = type;
    event.data.connect.sender = sender;
    event.data.connect.dest = destination;
    deliverAnnouncement (event);
}

/** To every port subscribed to the system's announce port. */
void VirtualMidiService::deliverAnnouncement (snd_seq_event_t event)
{
    const auto announcePort = makeAddress (systemClient, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    event.flags = SND_SEQ_TIME_STAMP_REAL | SND_SEQ_EVENT_LENGTH_FIXED;
    event.queue = SND_SEQ_QUEUE_DIRECT;
    event.source = announcePort;

    for (const auto& subscription : subscriptions)
    {
        if (! sameAddress (subscription.sender, announcePort))
            continue;

        auto* client = findClient (subscription.destination.client);

        if (client == nullptr || client->pollFd < 0)
            continue;

        if (client->input.size() >= maxInputEvents)
        {
            client->inputOverflowed = true;
            continue;
        }

        event.dest = subscription.destination;
        client->input.push_back (event);

        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write (client->pollFd, &one, sizeof (one));
    }
}

int VirtualMidiService::takeInputEvent (int clientId, snd_seq_event_t& event)
{
    const std::lock_guard<std::mutex> guard (lock);
    catchUp();
    auto* client = findClient (clientId);

    if (client == nullptr)
        return -EBADFD;

    const auto clearReadiness = [client]
    {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read (client->pollFd, &count, sizeof (count));
    };

    if (client->inputOverflowed)
    {
        client->inputOverflowed = false;
        client->input.clear();
        clearReadiness();
        return -ENOSPC;
    }

    if (client->input.empty())
        return -EAGAIN;

    event = client->input.front();
    client->input.pop_front();

    if (client->input.empty())
        clearReadiness();

    return (int) client->input.size();
}

int VirtualMidiService::getNumInputEvents (int clientId)
{
    const std::lock_guard<std::mutex> guard (lock);
    catchUp();
    const auto* client = findClient (clientId);
    return client != nullptr ? (int) client->input.size() : 0;
}

int VirtualMidiService::findFreeCard() const
{
    for (int card = 0; card < maxCards; ++card)
        if (std::none_of (clients.begin(), clients.end(), [card] (const auto& c) { return c.second.card == card; }))
            return card;

    return -1;
}

void VirtualMidiService::unplugAfter (const std::string& name, int numMessages, std::optional<std::chrono::milliseconds> backAfter,
                                      std::chrono::milliseconds goneAfter)
{
    const std::lock_guard<std::mutex> guard (lock);
    unpluggings[name] = { numReceived[name] + std::max (numMessages, 0), backAfter, std::max (goneAfter, std::chrono::milliseconds (0)) };
    unplugIfDue (name, monotonicNow());
}

void VirtualMidiService::setStuckAfter (const std::string& name, int numMessages)
{
    const std::lock_guard<std::mutex> guard (lock);
    stuckAfter[name] = numReceived[name] + std::max (numMessages, 0);
}

void VirtualMidiService::setRawMidiPort (const std::string& name, std::int64_t bytesPerSecond)
{
    const std::lock_guard<std::mutex> guard (lock);
    rawMidiRates[name] = std::max<std::int64_t> (bytesPerSecond, 1);

    for (auto& entry : clients)
        if (isVirtualClient (entry.first) && entry.second.name == name && entry.second.card < 0)
            entry.second.card = findFreeCard();
}

int VirtualMidiService::getNumLostEvents (const std::string& name) const
{
    const std::lock_guard<std::mutex> guard (lock);
    const auto it = numLost.find (name);
    return it != numLost.end() ? it->second : 0;
}

bool VirtualMidiService::isUnplugDue (const std::string& name) const
{
    const auto rule = unpluggings.find (name);
    const auto received = numReceived.find (name);
    return rule != unpluggings.end() && (received != numReceived.end() ? received->second : 0) >= rule->second.afterMessages;
}

/** As the kernel does when a device goes: the client leaves, and the
    connections to it end (they are kept aside only to count what is lost). */
void VirtualMidiService::unplugIfDue (const std::string& name, std::int64_t goneAtNs)
{
    if (! isUnplugDue (name))
        return;

    const auto rule = unpluggings.find (name);
    const auto now = monotonicNow();
    auto goneClientId = -1;

    for (auto it = clients.begin(); it != clients.end(); ++it)
    {
        if (isVirtualClient (it->first) && it->second.name == name)
        {
            // Its raw MIDI outputs keep what the device had when it went;
            // what was in the driver's transfers is lost with it, and
            // everything else on them fails from now on.
            for (auto& entry : rawMidiOutputs)
            {
                auto& output = entry.second;

                if (output.clientId == it->first && ! output.unplugged)
                {
                    output.buffer.takeReceived (goneAtNs, [this, &output] (const RawMidiBuffer::Message& message)
                                                {
                                                    recordEvent (output.name, message.bytes, message.startNs, message.endNs, true);
                                                    return RawMidiBuffer::Then::carryOn;
                                                });
                    discardRawMidiOutput (output, goneAtNs);
                    output.unplugged = true;
                    output.goneAtNs = goneAtNs;
                    armPoll (output, now);
                }
            }

            const auto clientId = it->first;

            for (auto s = subscriptions.begin(); s != subscriptions.end();)
            {
                if (s->destination.client == clientId)
                {
                    endedByUnplugging.push_back (*s);
                    announceSubscription (SND_SEQ_EVENT_PORT_UNSUBSCRIBED, s->sender, s->destination);
                    s = subscriptions.erase (s);
                }
                else
                {
                    ++s;
                }
            }

            removeClient (clientId);
            goneClientId = clientId;
            break;
        }
    }

    if (rule->second.backAfter.has_value())
        replugs.push_back ({ name, std::chrono::steady_clock::now() + *rule->second.backAfter, goneClientId });

    unpluggings.erase (rule);
}

/** Brings the system up to now for whoever looks at it: USB devices that
    were due to go have gone, and ports due back are back. */
void VirtualMidiService::catchUp()
{
    const auto nowNs = monotonicNow();

    for (auto& entry : rawMidiOutputs)
        updateRawMidiOutput (entry.second, nowNs);

    const auto now = std::chrono::steady_clock::now();

    for (auto it = replugs.begin(); it != replugs.end();)
    {
        const auto oldNumberFree = it->clientId >= 0 && findClient (it->clientId) == nullptr;

        if (now >= it->when && (oldNumberFree || nextNewVirtualClient < firstUserClient))
        {
            addVirtualPort (oldNumberFree ? it->clientId : nextNewVirtualClient++, it->name);
            it = replugs.erase (it);
        }
        else
        {
            ++it;
        }
    }
}

void VirtualMidiService::setOpenRefused (const std::string& name, bool refused)
{
    const std::lock_guard<std::mutex> guard (lock);

    if (refused)
        refusedNames.insert (name);
    else
        refusedNames.erase (name);
}

bool VirtualMidiService::setCaptureFile (const std::string& path)
{
    const std::lock_guard<std::mutex> guard (lock);
    return capture.open (path);
}

std::vector<VirtualMidi::Event> VirtualMidiService::getEvents()
{
    const std::lock_guard<std::mutex> guard (lock);
    const auto now = monotonicNow();

    for (auto& entry : rawMidiOutputs)
        updateRawMidiOutput (entry.second, now);

    return events;
}

void VirtualMidiService::clearEvents()
{
    const std::lock_guard<std::mutex> guard (lock);
    events.clear();
}

int VirtualMidiService::getNumOpenConnections() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return (int) std::count_if (subscriptions.begin(), subscriptions.end(),
                                [] (const Subscription& s) { return s.toVirtualPort; })
         + (int) std::count_if (rawMidiOutputs.begin(), rawMidiOutputs.end(),
                                [] (const auto& entry) { return ! entry.second.unplugged; });
}

void VirtualMidiService::reset()
{
    // Clients that programs opened stay, with their ports and connections, and
    // so do open raw MIDI outputs: they belong to the program (JUCE, for one,
    // keeps its client while a port is open).
    const std::lock_guard<std::mutex> guard (lock);
    rawMidiRates.clear();
    applyOutputPorts ({});
    nextNewVirtualClient = firstVirtualClient;
    endedByUnplugging.clear();
    unpluggings.clear();
    replugs.clear();
    numLost.clear();
    numReceived.clear();
    stuckAfter.clear();
    ++resets;
    unstuck.notify_all();
    refusedNames.clear();
    events.clear();
    capture.close();
}

void VirtualMidiService::configureFromEnvironment()
{
    if (const auto* ports = std::getenv ("VIRTUAL_MIDI_PORTS"))
        setOutputPorts (splitNames (ports));

    if (const auto* refused = std::getenv ("VIRTUAL_MIDI_REFUSE"))
        for (const auto& name : splitNames (refused))
            setOpenRefused (name, true);

    // NAME:MESSAGES or NAME:MESSAGES:BACK_AFTER_MS, ';'-separated.
    if (const auto* unplug = std::getenv ("VIRTUAL_MIDI_UNPLUG"))
    {
        for (const auto& entry : splitNames (unplug))
        {
            const auto first = entry.find (':');
            const auto second = entry.find (':', first == std::string::npos ? first : first + 1);
            char* end = nullptr;
            const auto messages = first == std::string::npos ? -1 : std::strtol (entry.c_str() + first + 1, &end, 10);
            const auto backMs = second == std::string::npos ? -1 : std::strtol (entry.c_str() + second + 1, nullptr, 10);

            if (messages < 0 || (second == std::string::npos && end != nullptr && *end != 0) || (second != std::string::npos && backMs < 0))
                std::fprintf (stderr, "virtual-midi: VIRTUAL_MIDI_UNPLUG entry \"%s\" is not NAME:MESSAGES[:BACK_AFTER_MS]; ignored\n", entry.c_str());
            else
                unplugAfter (entry.substr (0, first), (int) messages,
                             second == std::string::npos ? std::nullopt : std::optional<std::chrono::milliseconds> (backMs),
                             VirtualMidi::usbDepartureTime);
        }
    }

    // NAME:MESSAGES, ';'-separated.
    if (const auto* stuck = std::getenv ("VIRTUAL_MIDI_STUCK"))
    {
        for (const auto& entry : splitNames (stuck))
        {
            const auto colon = entry.find (':');
            char* end = nullptr;
            const auto messages = colon == std::string::npos ? -1 : std::strtol (entry.c_str() + colon + 1, &end, 10);

            if (messages < 0 || *end != 0)
                std::fprintf (stderr, "virtual-midi: VIRTUAL_MIDI_STUCK entry \"%s\" is not NAME:MESSAGES; ignored\n", entry.c_str());
            else
                setStuckAfter (entry.substr (0, colon), (int) messages);
        }
    }

    // NAME:BYTES_PER_SECOND, ';'-separated.
    if (const auto* rawMidi = std::getenv ("VIRTUAL_MIDI_RAWMIDI"))
    {
        for (const auto& entry : splitNames (rawMidi))
        {
            const auto colon = entry.find (':');
            char* end = nullptr;
            const auto rate = colon == std::string::npos ? -1 : std::strtoll (entry.c_str() + colon + 1, &end, 10);

            if (rate <= 0 || *end != 0)
                std::fprintf (stderr, "virtual-midi: VIRTUAL_MIDI_RAWMIDI entry \"%s\" is not NAME:BYTES_PER_SECOND; ignored\n", entry.c_str());
            else
                setRawMidiPort (entry.substr (0, colon), rate);
        }
    }

    if (const auto* path = std::getenv ("VIRTUAL_MIDI_CAPTURE"))
        setCaptureFile (path);
}

//==============================================================================
int VirtualMidiService::openClient (int pollFd)
{
    const std::lock_guard<std::mutex> guard (lock);

    for (int id = firstUserClient; id < maxClients; ++id)
    {
        if (clients.count (id) == 0)
        {
            clients.emplace (id, Client { id, "Client-" + std::to_string (id), SND_SEQ_USER_CLIENT, {}, -1, getpid(), pollFd, {}, false });
            announce (SND_SEQ_EVENT_CLIENT_START, id, 0);
            return id;
        }
    }

    return -ENOMEM;
}

void VirtualMidiService::closeClient (int clientId)
{
    const std::lock_guard<std::mutex> guard (lock);

    if (auto* client = findClient (clientId))
    {
        for (const auto& port : client->ports)
            removeSubscriptionsOf (makeAddress (clientId, port.id));

        removeClient (clientId);
    }
}

int VirtualMidiService::setClientName (int clientId, const char* name)
{
    const std::lock_guard<std::mutex> guard (lock);
    auto* client = findClient (clientId);

    if (client == nullptr || name == nullptr)
        return -EINVAL;

    client->name = name;
    announce (SND_SEQ_EVENT_CLIENT_CHANGE, clientId, 0);
    return 0;
}

void VirtualMidiService::getSystemInfo (snd_seq_system_info_t& info)
{
    const std::lock_guard<std::mutex> guard (lock);
    catchUp();
    info.queues = 32;
    info.clients = maxClients;
    info.ports = maxPortsPerClient;
    info.channels = 256;
    info.currentClients = (int) clients.size();
    info.currentQueues = 0;
}

int VirtualMidiService::queryNextClient (snd_seq_client_info_t& info)
{
    const std::lock_guard<std::mutex> guard (lock);
    catchUp();

    // Like the kernel, the search starts after the given client, so a zeroed
    // info never finds the system client.
    const auto it = clients.lower_bound (std::max (info.client + 1, 0));

    if (it == clients.end())
        return -ENOENT;

    fillClientInfo (it->second, info);
    return 0;
}

int VirtualMidiService::getClientInfo (int clientId, snd_seq_client_info_t& info)
{
    const std::lock_guard<std::mutex> guard (lock);
    catchUp();
    const auto* client = findClient (clientId);

    if (client == nullptr)
        return -ENOENT;

    fillClientInfo (*client, info);
    return 0;
}

void VirtualMidiService::fillClientInfo (const Client& client, snd_seq_client_info_t& info) const
{
    info.client = client.id;
    info.type = client.type;
    copyName (info.name, client.name);
    info.numPorts = (int) client.ports.size();
    info.card = client.card;
    info.pid = client.pid;
}

int VirtualMidiService::queryNextPort (snd_seq_port_info_t& info)
{
    const std::lock_guard<std::mutex> guard (lock);
    const auto* client = findClient (info.addr.client);

    if (client == nullptr)
        return -ENXIO;

    // The port number is a byte: -1 wraps round to 0 here, as in the kernel.
    const auto first = (int) (unsigned char) (info.addr.port + 1);

    for (const auto& port : client->ports)
    {
        if (port.id >= first)
        {
            fillPortInfo (*client, port, info);
            return 0;
        }
    }

    return -ENOENT;
}

int VirtualMidiService::getPortInfo (int clientId, int port, snd_seq_port_info_t& info)
{
    const std::lock_guard<std::mutex> guard (lock);
    const auto* client = findClient (clientId);

    if (client == nullptr)
        return -ENXIO;

    for (const auto& p : client->ports)
    {
        if (p.id == port)
        {
            fillPortInfo (*client, p, info);
            return 0;
        }
    }

    return -ENOENT;
}

void VirtualMidiService::fillPortInfo (const Client& client, const Port& port, snd_seq_port_info_t& info) const
{
    info.addr = makeAddress (client.id, port.id);
    copyName (info.name, port.name);
    info.capability = port.capability;
    info.type = port.type;
    info.midiChannels = isVirtualClient (client.id) ? 16 : 0;
    info.readUse = countSubscriptions (info.addr, true);
    info.writeUse = countSubscriptions (info.addr, false);
}

int VirtualMidiService::createPort (int clientId, const char* name, unsigned int capability, unsigned int type)
{
    const std::lock_guard<std::mutex> guard (lock);
    auto* client = findClient (clientId);

    if (client == nullptr || name == nullptr)
        return -EINVAL;

    int id = 0;
    auto position = client->ports.begin();

    while (position != client->ports.end() && position->id == id)
    {
        ++position;
        ++id;
    }

    if (id >= maxPortsPerClient)
        return -ENOMEM;

    client->ports.insert (position, Port { id, name, capability, type });
    announce (SND_SEQ_EVENT_PORT_START, clientId, id);
    return id;
}

int VirtualMidiService::deletePort (int clientId, int port)
{
    const std::lock_guard<std::mutex> guard (lock);
    auto* client = findClient (clientId);

    if (client == nullptr)
        return -EINVAL;

    const auto it = std::find_if (client->ports.begin(), client->ports.end(),
                                  [port] (const Port& p) { return p.id == port; });

    if (it == client->ports.end())
        return -ENOENT;

    removeSubscriptionsOf (makeAddress (clientId, port));
    client->ports.erase (it);
    announce (SND_SEQ_EVENT_PORT_EXIT, clientId, port);
    return 0;
}

int VirtualMidiService::connect (int callerId, snd_seq_addr_t sender, snd_seq_addr_t destination)
{
    const std::lock_guard<std::mutex> guard (lock);
    const auto* senderPort = findPort (sender);
    const auto* destinationPort = findPort (destination);

    if (senderPort == nullptr || destinationPort == nullptr)
        return -EINVAL;

    // As in the kernel: a client needs no permission on its own side.
    constexpr auto readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    constexpr auto writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

    if (callerId != sender.client && (senderPort->capability & readable) != readable)
        return -EPERM;

    if (callerId != destination.client && (destinationPort->capability & writable) != writable)
        return -EPERM;

    if (isOpenRefused (destination) || isOpenRefused (sender))
        return -EBUSY;

    // The kernel's bridge cannot open a raw MIDI output that a program holds.
    if (isVirtualClient (destination.client) && hasOpenRawMidiOutput (destination.client))
        return -EBUSY;

    for (const auto& s : subscriptions)
        if (sameAddress (s.sender, sender) && sameAddress (s.destination, destination))
            return -EBUSY;

    subscriptions.push_back ({ sender, destination, destinationPort->name, isVirtualClient (destination.client) });
    announceSubscription (SND_SEQ_EVENT_PORT_SUBSCRIBED, sender, destination);
    return 0;
}

int VirtualMidiService::querySubscribers (snd_seq_query_subscribe_t& query)
{
    const std::lock_guard<std::mutex> guard (lock);

    if (findPort (query.root) == nullptr)
        return -ENXIO;

    const auto writesToRoot = query.type == SND_SEQ_QUERY_SUBS_WRITE;
    std::vector<snd_seq_addr_t> others;

    for (const auto& s : subscriptions)
        if (sameAddress (writesToRoot ? s.destination : s.sender, query.root))
            others.push_back (writesToRoot ? s.sender : s.destination);

    query.numSubscriptions = (int) others.size();

    if (query.index < 0 || query.index >= (int) others.size())
        return -ENOENT;

    query.addr = others[(size_t) query.index];
    return 0;
}

int VirtualMidiService::disconnect (snd_seq_addr_t sender, snd_seq_addr_t destination)
{
    const std::lock_guard<std::mutex> guard (lock);

    const auto it = std::find_if (subscriptions.begin(), subscriptions.end(),
                                  [sender, destination] (const Subscription& s)
                                  {
                                      return sameAddress (s.sender, sender) && sameAddress (s.destination, destination);
                                  });

    if (it == subscriptions.end())
        return -ENOENT;

    subscriptions.erase (it);
    announceSubscription (SND_SEQ_EVENT_PORT_UNSUBSCRIBED, sender, destination);
    return 0;
}

namespace
{
    // When this thread began handing over the message it sends next; 0 when it
    // sends an event that it built without the byte coder.
    thread_local std::int64_t handOverStartNs = 0;
}

void VirtualMidiService::noteHandOverStart() noexcept
{
    if (handOverStartNs == 0)
        handOverStartNs = monotonicNow();
}

void VirtualMidiService::forgetHandOverStart() noexcept
{
    handOverStartNs = 0;
}

int VirtualMidiService::deliverDirect (int clientId, bool nonBlocking, const snd_seq_event_t& event)
{
    const auto startNs = handOverStartNs != 0 ? handOverStartNs : monotonicNow();
    handOverStartNs = 0;

    const auto isVariable = (event.flags & SND_SEQ_EVENT_LENGTH_MASK) == SND_SEQ_EVENT_LENGTH_VARIABLE;
    const auto eventSize = (int) sizeof (snd_seq_event_t) + (isVariable ? (int) event.data.ext.len : 0);

    std::vector<std::uint8_t> bytes;

    if (! MidiEventCodec::toMessageBytes (event, bytes))
        return eventSize;   // not a MIDI message: no port here does anything with it

    std::unique_lock<std::mutex> guard (lock);

    if (findClient (clientId) == nullptr)
        return -EBADFD;

    std::vector<std::string> destinations;

    if (event.dest.client == SND_SEQ_ADDRESS_SUBSCRIBERS)
    {
        const auto sender = makeAddress (clientId, event.source.port);

        for (const auto& s : subscriptions)
            if (s.toVirtualPort && sameAddress (s.sender, sender))
                destinations.push_back (s.destinationName);

        for (const auto& s : endedByUnplugging)
            if (sameAddress (s.sender, sender))
                ++numLost[s.destinationName];
    }
    else if (event.dest.client != SND_SEQ_ADDRESS_BROADCAST)
    {
        const auto* port = findPort (event.dest);

        if (port == nullptr)
            return -ENOENT;

        if (isVirtualClient (event.dest.client) && (port->capability & SND_SEQ_PORT_CAP_WRITE) != 0)
            destinations.push_back (port->name);
    }

    for (const auto& name : destinations)
    {
        if (isStuck (name))
        {
            if (nonBlocking)
            {
                ++numLost[name];
                continue;
            }

            const auto resetsBefore = resets;
            unstuck.wait (guard, [this, resetsBefore] { return resets != resetsBefore; });
            return -EIO;
        }

        const auto endNs = monotonicNow();
        recordEvent (name, bytes, startNs, endNs, true);
        unplugIfDue (name, endNs);
    }

    return eventSize;
}

/** A message a port received: counted when whole, and kept in any case. */
void VirtualMidiService::recordEvent (const std::string& name, const std::vector<std::uint8_t>& bytes,
                                      std::int64_t startNs, std::int64_t endNs, bool whole)
{
    capture.write (name, bytes.data(), bytes.size(), startNs, endNs);
    events.push_back ({ name, bytes, startNs, endNs });

    if (whole)
        ++numReceived[name];
}

bool VirtualMidiService::isStuck (const std::string& name)
{
    const auto stuck = stuckAfter.find (name);
    return stuck != stuckAfter.end() && numReceived[name] >= stuck->second;
}

//==============================================================================
int VirtualMidiService::openRawMidi (const char* name, int mode, int pollFd)
{
    // "hw:CARD", "hw:CARD,DEVICE" or "hw:CARD,DEVICE,SUBDEVICE".
    int card = -1, device = 0, subdevice = -1;

    if (name == nullptr || std::sscanf (name, "hw:%d,%d,%d", &card, &device, &subdevice) < 1 || card < 0)
        return -ENOENT;

    const std::lock_guard<std::mutex> guard (lock);
    catchUp();

    const auto it = std::find_if (clients.begin(), clients.end(),
                                  [card] (const auto& c) { return isVirtualClient (c.first) && c.second.card == card; });

    if (it == clients.end() || device != 0)
        return -ENOENT;

    if (subdevice > 0)
        return -ENXIO;

    const auto address = makeAddress (it->first, 0);

    if (isOpenRefused (address) || hasOpenRawMidiOutput (it->first) || countSubscriptions (address, false) > 0)
        return -EBUSY;

    if ((mode & SND_RAWMIDI_NONBLOCK) == 0)
        return -EINVAL;

    const auto id = nextRawMidiOutput++;
    const auto rate = rawMidiRates.count (it->second.name) != 0 ? rawMidiRates[it->second.name] : 1;
    const auto& output = rawMidiOutputs.emplace (id, RawMidiOutput { it->first, it->second.name, RawMidiBuffer (rate), 1, pollFd, false }).first->second;
    armPoll (output, monotonicNow());
    return id;
}

void VirtualMidiService::closeRawMidi (int output)
{
    std::unique_lock<std::mutex> guard (lock);
    auto now = monotonicNow();
    auto* open = findRawMidiOutput (output);

    if (open == nullptr)
        return;

    updateRawMidiOutput (*open, now);

    if (! open->unplugged)
    {
        const auto drainedNs = std::min (open->buffer.getTimeAvailable (RawMidiBuffer::size, now), now + rawMidiCloseTimeoutNs);

        if (drainedNs > now)
        {
            guard.unlock();
            sleepUntil (drainedNs);
            guard.lock();

            now = monotonicNow();
            open = findRawMidiOutput (output);
            updateRawMidiOutput (*open, now);
        }

        if (! open->unplugged)
            discardRawMidiOutput (*open, now);
    }

    rawMidiOutputs.erase (output);
}

int VirtualMidiService::drainRawMidi (int output)
{
    std::unique_lock<std::mutex> guard (lock);
    auto now = monotonicNow();
    auto error = 0;
    auto* open = findWorkingRawMidiOutput (output, now, error);

    if (open == nullptr)
        return error;

    // The kernel waits until the buffer is empty (ten seconds at most: a
    // device that goes meanwhile leaves it full, and that is the wait), then
    // for the driver's transfers (50 ms at most, or until the device goes).
    const auto bufferEmptyNs = open->buffer.getTimeAvailable (RawMidiBuffer::size, now);
    const auto emptied = bufferEmptyNs < open->goingAtNs && bufferEmptyNs <= now + rawMidiCloseTimeoutNs;
    const auto untilNs = emptied ? std::min ({ open->buffer.getTimeTaken(), open->goingAtNs, bufferEmptyNs + transferDrainTimeoutNs })
                                 : now + rawMidiCloseTimeoutNs;

    if (untilNs > now)
    {
        guard.unlock();
        sleepUntil (untilNs);
        guard.lock();

        now = monotonicNow();
        open = findRawMidiOutput (output);

        if (open == nullptr)
            return -EBADFD;

        updateRawMidiOutput (*open, now);
    }

    if (! open->unplugged)
    {
        discardRawMidiOutput (*open, now);
        armPoll (*open, now);
    }

    return emptied ? 0 : -EIO;
}

long VirtualMidiService::writeRawMidi (int output, const std::uint8_t* bytes, std::size_t numBytes)
{
    const std::lock_guard<std::mutex> guard (lock);
    const auto now = monotonicNow();
    auto error = 0;
    auto* open = findWorkingRawMidiOutput (output, now, error);

    if (open == nullptr)
        return error;

    long result = -EAGAIN;

    if (open->buffer.getAvailable (now) >= open->availMin)
        result = (long) open->buffer.write (bytes, numBytes, now);

    armPoll (*open, now);
    return result;
}

long VirtualMidiService::getRawMidiAvailable (int output)
{
    const std::lock_guard<std::mutex> guard (lock);
    const auto now = monotonicNow();
    auto* open = findRawMidiOutput (output);

    if (open == nullptr)
        return -EBADFD;

    updateRawMidiOutput (*open, now);
    armPoll (*open, now);
    return open->unplugged ? -ENODEV : (long) open->buffer.getAvailable (now);
}

int VirtualMidiService::dropRawMidi (int output)
{
    const std::lock_guard<std::mutex> guard (lock);
    const auto now = monotonicNow();
    auto* open = findRawMidiOutput (output);

    if (open == nullptr)
        return -EBADFD;

    if (open->unplugged)
        return -ENODEV;

    updateRawMidiOutput (*open, now);
    discardRawMidiOutput (*open, now);
    armPoll (*open, now);
    return 0;
}

int VirtualMidiService::getRawMidiAvailMin (int output, std::size_t& availMin)
{
    const std::lock_guard<std::mutex> guard (lock);
    const auto* open = findRawMidiOutput (output);

    if (open == nullptr)
        return -EBADFD;

    if (open->unplugged)
        return -ENODEV;

    availMin = open->availMin;
    return 0;
}

int VirtualMidiService::setRawMidiParams (int output, std::size_t bufferSize, std::size_t availMin)
{
    const std::lock_guard<std::mutex> guard (lock);
    auto* open = findRawMidiOutput (output);

    if (open == nullptr)
        return -EBADFD;

    if (open->unplugged)
        return -ENODEV;

    if (bufferSize != RawMidiBuffer::size || availMin < 1 || availMin > bufferSize)
        return -EINVAL;

    open->availMin = availMin;
    armPoll (*open, monotonicNow());
    return 0;
}

void VirtualMidiService::armRawMidiPoll (int output)
{
    const std::lock_guard<std::mutex> guard (lock);
    const auto now = monotonicNow();

    if (auto* open = findRawMidiOutput (output))
    {
        updateRawMidiOutput (*open, now);
        armPoll (*open, now);
    }
}

bool VirtualMidiService::isRawMidiUnplugged (int output)
{
    const std::lock_guard<std::mutex> guard (lock);
    const auto* open = findRawMidiOutput (output);
    return open == nullptr || open->unplugged;
}

VirtualMidiService::RawMidiOutput* VirtualMidiService::findRawMidiOutput (int output)
{
    const auto it = rawMidiOutputs.find (output);
    return it != rawMidiOutputs.end() ? &it->second : nullptr;
}

/** The open output brought up to now, or nullptr with the error the library
    gives for it: -EBADFD for a handle that is not open, -ENODEV once its
    device has gone. */
VirtualMidiService::RawMidiOutput* VirtualMidiService::findWorkingRawMidiOutput (int output, std::int64_t nowNs, int& error)
{
    auto* open = findRawMidiOutput (output);

    if (open == nullptr)
    {
        error = -EBADFD;
        return nullptr;
    }

    updateRawMidiOutput (*open, nowNs);

    if (open->unplugged)
    {
        error = -ENODEV;
        return nullptr;
    }

    return open;
}

bool VirtualMidiService::hasOpenRawMidiOutput (int clientId) const
{
    return std::any_of (rawMidiOutputs.begin(), rawMidiOutputs.end(),
                        [clientId] (const auto& entry) { return entry.second.clientId == clientId && ! entry.second.unplugged; });
}

/** Records the messages the device has taken by now. A port that is to be
    stuck stops taking bytes right after the message that makes it so, and
    its buffer stops draining; one that is to be unplugged takes nothing after
    that message (the driver still sends it what follows, which never arrives)
    and goes as long after it as its unplugging says. */
void VirtualMidiService::updateRawMidiOutput (RawMidiOutput& output, std::int64_t nowNs)
{
    if (output.unplugged)
        return;

    output.buffer.takeReceived (std::min (nowNs, output.goingAtNs), [this, &output] (const RawMidiBuffer::Message& message)
                                {
                                    recordEvent (output.name, message.bytes, message.startNs, message.endNs, true);

                                    if (isUnplugDue (output.name))
                                    {
                                        const auto goneAfter = unpluggings[output.name].goneAfter;
                                        output.goingAtNs = message.endNs + std::chrono::duration_cast<std::chrono::nanoseconds> (goneAfter).count();
                                        return RawMidiBuffer::Then::stopTaking;
                                    }

                                    return isStuck (output.name) ? RawMidiBuffer::Then::stopDraining : RawMidiBuffer::Then::carryOn;
                                });

    if (output.goingAtNs <= nowNs)
        unplugIfDue (output.name, output.goingAtNs);
    else if (isStuck (output.name))
        output.buffer.stopDraining (nowNs);
}

/** What reaches the device stays with it, the last message perhaps cut short. */
void VirtualMidiService::discardRawMidiOutput (RawMidiOutput& output, std::int64_t nowNs)
{
    for (const auto& message : output.buffer.discard (nowNs))
        recordEvent (output.name, message.bytes, message.startNs, message.endNs, ! message.cutShort);
}

void VirtualMidiService::armPoll (const RawMidiOutput& output, std::int64_t nowNs) const
{
    const auto readyNs = output.unplugged ? nowNs : std::min (output.buffer.getTimeAvailable (output.availMin, nowNs), output.goingAtNs);

    // Absolute time on the monotonic clock: a moment already passed fires at
    // once, and a zero value disarms the timer for a device that never drains.
    itimerspec when {};

    if (readyNs != RawMidiBuffer::never)
    {
        const auto at = std::max<std::int64_t> (readyNs, 1);
        when.it_value.tv_sec = (time_t) (at / 1000000000);
        when.it_value.tv_nsec = (long) (at % 1000000000);
    }

    timerfd_settime (output.pollFd, TFD_TIMER_ABSTIME, &when, nullptr);
}

//==============================================================================
VirtualMidiService::Client* VirtualMidiService::findClient (int clientId)
{
    const auto it = clients.find (clientId);
    return it != clients.end() ? &it->second : nullptr;
}

const VirtualMidiService::Client* VirtualMidiService::findClient (int clientId) const
{
    const auto it = clients.find (clientId);
    return it != clients.end() ? &it->second : nullptr;
}

const VirtualMidiService::Port* VirtualMidiService::findPort (snd_seq_addr_t address) const
{
    if (const auto* client = findClient (address.client))
        for (const auto& port : client->ports)
            if (port.id == address.port)
                return &port;

    return nullptr;
}

bool VirtualMidiService::isOpenRefused (snd_seq_addr_t address) const
{
    const auto* port = findPort (address);
    return port != nullptr && isVirtualClient (address.client) && refusedNames.count (port->name) != 0;
}

void VirtualMidiService::removeSubscriptionsOf (snd_seq_addr_t address)
{
    const auto involves = [address] (const Subscription& s)
    {
        return sameAddress (s.sender, address) || sameAddress (s.destination, address);
    };

    const auto ended = std::stable_partition (subscriptions.begin(), subscriptions.end(),
                                              [&involves] (const Subscription& s) { return ! involves (s); });
    const std::vector<Subscription> endedSubscriptions (ended, subscriptions.end());
    subscriptions.erase (ended, subscriptions.end());

    for (const auto& subscription : endedSubscriptions)
        announceSubscription (SND_SEQ_EVENT_PORT_UNSUBSCRIBED, subscription.sender, subscription.destination);

    endedByUnplugging.erase (std::remove_if (endedByUnplugging.begin(), endedByUnplugging.end(), involves), endedByUnplugging.end());
}

int VirtualMidiService::countSubscriptions (snd_seq_addr_t address, bool asSender) const
{
    return (int) std::count_if (subscriptions.begin(), subscriptions.end(),
                                [address, asSender] (const Subscription& s)
                                {
                                    return sameAddress (asSender ? s.sender : s.destination, address);
                                });
}
