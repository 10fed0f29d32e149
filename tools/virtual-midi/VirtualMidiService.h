#pragma once

#include "CaptureWriter.h"
#include "SequencerTypes.h"
#include "VirtualMidi.h"

#include <chrono>
#include <condition_variable>
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
      gets the next number never used before;
    - from 128 on, the clients that programs open with snd_seq_open.

    Everything is guarded by one mutex, so the library's functions and the
    control functions may be called from any thread: a program sends on one
    thread while it opens and closes ports on another. A send sleeps for the
    configured delay without holding the lock.

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
    void setSendDelayPerByte (std::chrono::nanoseconds delay);
    void unplugAfter (const std::string& name, int numMessages, std::optional<std::chrono::milliseconds> backAfter);
    int getNumLostEvents (const std::string& name) const;
    void setStuckAfter (const std::string& name, int numMessages);
    bool setCaptureFile (const std::string& path);
    std::vector<VirtualMidi::Event> getEvents() const;
    void clearEvents();
    int getNumOpenConnections() const;
    void reset();
    void configureFromEnvironment();

    //==============================================================================
    // The sequencer, for the library functions. Results follow the library:
    // 0 or a positive value on success, a negative errno value on failure.

    /** Creates a client for a new connection; returns its number. */
    int openClient();
    void closeClient (int clientId);
    int setClientName (int clientId, const char* name);

    void getSystemInfo (snd_seq_system_info_t& info);
    int queryNextClient (snd_seq_client_info_t& info);

    /** Finds the next port of a client. A port whose opening is refused is
        reported without a port number (snd_seq_port_info_get_port gives -1):
        JUCE still lists it, but its openDevice then passes it over and returns
        no device. Refusing the connection alone would not do: JUCE ignores what
        snd_seq_connect_to returns, and the only other failure it reports, that
        of snd_seq_create_simple_port, makes it leak its sequencer client. */
    int queryNextPort (snd_seq_port_info_t& info);

    /** Creates a port on the caller's own client; returns its number. */
    int createPort (int clientId, const char* name, unsigned int capability, unsigned int type);
    int deletePort (int clientId, int port);

    /** Subscribes sender to destination on behalf of the calling client; a
        refused port is busy (-EBUSY). */
    int connect (int callerId, snd_seq_addr_t sender, snd_seq_addr_t destination);

    /** Ends a subscription of sender to destination; -ENOENT when there is none. */
    int disconnect (snd_seq_addr_t sender, snd_seq_addr_t destination);

    /** Delivers an event sent by a client without queueing it, and returns when
        the (virtual) driver has taken it: after the configured per-byte delay. */
    int deliverDirect (int clientId, const snd_seq_event_t& event);

    /** Notes, on the calling thread, that a program has begun handing a message
        to the library (the first call of the byte coder for it). The event that
        the same thread sends next counts as started at this moment, so a
        message's time stamp does not depend on how long the library spent
        encoding and routing it. */
    static void noteHandOverStart() noexcept;

    /** Forgets a hand-over start noted on the calling thread that no event used
        (the program reset its coder without sending). */
    static void forgetHandOverStart() noexcept;

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
    };

    struct Replug
    {
        std::string name;
        std::chrono::steady_clock::time_point when;
    };

    Client* findClient (int clientId);
    const Client* findClient (int clientId) const;
    const Port* findPort (snd_seq_addr_t address) const;
    bool isOpenRefused (snd_seq_addr_t address) const;
    void removeSubscriptionsOf (snd_seq_addr_t address);
    int countSubscriptions (snd_seq_addr_t address, bool asSender) const;
    void applyOutputPorts (const std::vector<std::string>& names);
    void addVirtualPort (int clientId, const std::string& name);
    void unplugIfDue (const std::string& name);
    void replugWhatIsDue();

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
    std::chrono::nanoseconds delayPerByte { 0 };
    std::vector<VirtualMidi::Event> events;
    CaptureWriter capture;
};
