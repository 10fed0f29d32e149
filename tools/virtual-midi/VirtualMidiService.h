#pragma once

#include "CaptureWriter.h"
#include "RawMidiBuffer.h"
#include "SequencerTypes.h"
#include "VirtualMidi.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

//==============================================================================
/**
    The state of the stand-in sequencer: its clients and ports, the subscriptions
    between them, the test's settings and the events received.

    Clients, in the order the sequencer lists them (by client number):
    - 0, "System", with its "Timer" and "Announce" ports, as on a real system;
    - from 20 on, one client per virtual output port, named like its port, in the
      order the test gave them; a port that comes back after being unplugged
      takes its old number again, as a device does on the real system, or,
      if another client holds it by then, the next number never used. A port
      given a raw MIDI device makes its client a card's, with the lowest card
      number free, and the device hw:CARD,0,0 behind port 0, as the kernel's
      bridge numbers them;
    - from 128 on, the clients that programs open with snd_seq_open.

    Everything is guarded by one mutex, so the library's functions and the
    control functions may be called from any thread: a program sends on one
    thread while it opens and closes ports on another. A send sleeps for the
    configured delay without holding the lock. A raw MIDI output drains by the
    clock: what it has taken is worked out, and recorded, whenever a program or
    a test looks at it.

    The instance lives until the process ends (it is never destroyed), so a
    library call from a static destructor still finds it.
*/
class VirtualMidiService
{
public:
    static VirtualMidiService& getInstance();

    //==============================================================================
    // Control, as in VirtualMidi.h

    void setOutputPorts (const std::vector<std::string>& names);
    void setOpenRefused (const std::string& name, bool refused);
    void unplugAfter (const std::string& name, int numMessages, std::optional<std::chrono::milliseconds> backAfter,
                      std::chrono::milliseconds goneAfter);
    int getNumLostEvents (const std::string& name) const;
    void setStuckAfter (const std::string& name, int numMessages);
    void setRawMidiPort (const std::string& name, std::int64_t bytesPerSecond);
    bool setCaptureFile (const std::string& path);
    std::vector<VirtualMidi::Event> getEvents();
    void clearEvents();
    int getNumOpenConnections() const;
    void reset();
    void configureFromEnvironment();

    //==============================================================================
    // The sequencer, for the library functions. Results follow the library:
    // 0 or a positive value on success, a negative errno value on failure.

    /** Creates a client for a new connection, whose poll descriptor (an
        eventfd) is readable while events wait for it; returns its number. */
    int openClient (int pollFd);
    void closeClient (int clientId);
    int setClientName (int clientId, const char* name);

    /** Takes the next event that waits for the client: the number still
        waiting after it, -EAGAIN when none does, or -ENOSPC (once, and what
        waited is gone) when more arrived than its input holds. */
    int takeInputEvent (int clientId, snd_seq_event_t& event);

    int getNumInputEvents (int clientId);

    void getSystemInfo (snd_seq_system_info_t& info);
    int queryNextClient (snd_seq_client_info_t& info);
    int getClientInfo (int clientId, snd_seq_client_info_t& info);

    /** Finds the next port of a client. A port whose opening is refused is
        listed like any other: only connecting to it fails. */
    int queryNextPort (snd_seq_port_info_t& info);
    int getPortInfo (int clientId, int port, snd_seq_port_info_t& info);

    /** Creates a port on the caller's own client; returns its number. */
    int createPort (int clientId, const char* name, unsigned int capability, unsigned int type);
    int deletePort (int clientId, int port);

    /** Subscribes sender to destination on behalf of the calling client; a
        refused port is busy (-EBUSY). */
    int connect (int callerId, snd_seq_addr_t sender, snd_seq_addr_t destination);

    /** Ends a subscription of sender to destination; -ENOENT when there is none. */
    int disconnect (snd_seq_addr_t sender, snd_seq_addr_t destination);

    /** Delivers an event sent by a client without queueing it, and returns at
        once, as the kernel does for a port of a card or a program: the port
        takes it, or, once the port is stuck, it is lost without an error. A
        stuck port's send from a blocking client (as Wine opens its own) never
        returns instead, until reset(): no kernel does that, but it is the only
        way to give the Windows program under Wine the wedged driver its send
        bound is there for. */
    int deliverDirect (int clientId, bool nonBlocking, const snd_seq_event_t& event);

    /** The subscription at the record's index among those of its root port of
        its type (the ports writing to it, or those it writes to); -ENXIO
        without such a port, -ENOENT past the last. */
    int querySubscribers (snd_seq_query_subscribe_t& query);

    /** Notes, on the calling thread, that a program has begun handing a message
        to the library (the first call of the byte coder for it). The event that
        the same thread sends next counts as started at this moment, so a
        message's time stamp does not depend on how long the library spent
        encoding and routing it. */
    static void noteHandOverStart() noexcept;

    /** Forgets a hand-over start noted on the calling thread that no event used
        (the program reset its coder without sending). */
    static void forgetHandOverStart() noexcept;

    //==============================================================================
    // The raw MIDI devices behind ports with a card, for the library functions.
    // An output is known by the number openRawMidi gave it; every call keeps
    // its poll descriptor (a timer) armed to become readable when the output
    // is ready: when availMin bytes are free, or at once once unplugged.

    /** Opens the output of "hw:CARD[,DEVICE[,SUBDEVICE]]": -ENOENT or -ENXIO
        for no such device, -EBUSY when it is refused, open already or held by
        a sequencer connection to its port, -EINVAL without SND_RAWMIDI_NONBLOCK
        (writes never block here). */
    int openRawMidi (const char* name, int mode, int pollFd);

    /** Waits, as the kernel does, until the device has drained the buffer (ten
        seconds at most), then closes the output. */
    void closeRawMidi (int output);

    /** Waits, as the kernel does, until the device has drained the buffer:
        0, also when the device went as it took the last byte; -EIO when it
        has not within ten seconds (what is left is dropped), -ENODEV when it
        went before. */
    int drainRawMidi (int output);

    /** Takes as many bytes as are free, if at least availMin are: else -EAGAIN;
        -ENODEV once unplugged. */
    long writeRawMidi (int output, const std::uint8_t* bytes, std::size_t numBytes);

    /** Free bytes in the buffer, or -ENODEV once unplugged. */
    long getRawMidiAvailable (int output);

    /** Discards what the device has not taken. */
    int dropRawMidi (int output);

    int getRawMidiAvailMin (int output, std::size_t& availMin);

    /** Only the buffer size the output has can be asked for. */
    int setRawMidiParams (int output, std::size_t bufferSize, std::size_t availMin);

    void armRawMidiPoll (int output);

    /** True once the device behind the output has gone. */
    bool isRawMidiUnplugged (int output);

private:
    VirtualMidiService();

    struct Port
    {
        int id;
        std::string name;
        unsigned int capability;
        unsigned int type;
    };

    struct Client
    {
        int id;
        std::string name;
        snd_seq_client_type_t type;
        std::vector<Port> ports;    // by port number
        int card = -1;
        int pid = -1;               // a program's own client: that program's
        int pollFd = -1;            // a program's own client: readable while input waits
        std::deque<snd_seq_event_t> input;
        bool inputOverflowed = false;
    };

    struct Subscription
    {
        snd_seq_addr_t sender;
        snd_seq_addr_t destination;
        std::string destinationName;
        bool toVirtualPort;
    };

    struct Unplugging
    {
        int afterMessages;
        std::optional<std::chrono::milliseconds> backAfter;
        std::chrono::milliseconds goneAfter;
    };

    struct Replug
    {
        std::string name;
        std::chrono::steady_clock::time_point when;
        int clientId;   // the number it had, which it takes again if still free
    };

    struct RawMidiOutput
    {
        int clientId;
        std::string name;
        RawMidiBuffer buffer;
        std::size_t availMin;
        int pollFd;
        bool unplugged;
        std::int64_t goingAtNs = RawMidiBuffer::never;     // when a device that is to go goes
        std::int64_t goneAtNs = 0;                          // when the device went, once unplugged
    };

    Client* findClient (int clientId);
    const Client* findClient (int clientId) const;
    const Port* findPort (snd_seq_addr_t address) const;
    bool isOpenRefused (snd_seq_addr_t address) const;
    void removeSubscriptionsOf (snd_seq_addr_t address);
    int countSubscriptions (snd_seq_addr_t address, bool asSender) const;
    void applyOutputPorts (const std::vector<std::string>& names);
    void addVirtualPort (int clientId, const std::string& name);
    void announce (snd_seq_event_type_t type, int client, int port);
    void announceSubscription (snd_seq_event_type_t type, snd_seq_addr_t sender, snd_seq_addr_t destination);
    void deliverAnnouncement (snd_seq_event_t event);
    void removeClient (int clientId);
    bool isUnplugDue (const std::string& name) const;
    void unplugIfDue (const std::string& name, std::int64_t goneAtNs);
    void catchUp();
    void fillClientInfo (const Client& client, snd_seq_client_info_t& info) const;
    void fillPortInfo (const Client& client, const Port& port, snd_seq_port_info_t& info) const;
    int findFreeCard() const;
    void recordEvent (const std::string& name, const std::vector<std::uint8_t>& bytes,
                      std::int64_t startNs, std::int64_t endNs, bool whole);
    bool isStuck (const std::string& name);
    RawMidiOutput* findRawMidiOutput (int output);
    RawMidiOutput* findWorkingRawMidiOutput (int output, std::int64_t nowNs, int& error);
    bool hasOpenRawMidiOutput (int clientId) const;
    void updateRawMidiOutput (RawMidiOutput& output, std::int64_t nowNs);
    void discardRawMidiOutput (RawMidiOutput& output, std::int64_t nowNs);
    void armPoll (const RawMidiOutput& output, std::int64_t nowNs) const;

    mutable std::mutex lock;
    std::map<int, Client> clients;
    std::vector<Subscription> subscriptions;
    std::vector<Subscription> endedByUnplugging;
    std::map<std::string, Unplugging> unpluggings;
    std::vector<Replug> replugs;
    std::map<std::string, int> numLost, numReceived;
    int nextNewVirtualClient = 20;
    std::map<std::string, int> stuckAfter;
    std::condition_variable unstuck;
    int resets = 0;
    std::set<std::string> refusedNames;
    std::map<std::string, std::int64_t> rawMidiRates;
    std::map<int, RawMidiOutput> rawMidiOutputs;
    int nextRawMidiOutput = 0;
    std::vector<VirtualMidi::Event> events;
    CaptureWriter capture;
};
