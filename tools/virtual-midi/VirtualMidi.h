#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

//==============================================================================
/**
    Control of the stand-in MIDI service: an in-process emulation of the system's
    MIDI sequencer that offers virtual output ports and records what is sent to
    them. Linked into a test program, its sequencer functions take the place of
    the system library's; preloaded under the unchanged updater, it is set up from
    the environment (see README.md in this folder).

    All functions are thread-safe.
*/
namespace VirtualMidi
{
    /** One event that reached a virtual port. */
    struct Event
    {
        std::string port;             ///< name of the destination port
        std::vector<std::uint8_t> bytes;
        std::int64_t timeNs = 0;      ///< when the send began (raw MIDI: its first byte was written): CLOCK_MONOTONIC (std::chrono::steady_clock) in ns
        std::int64_t endTimeNs = 0;   ///< when the send returned (raw MIDI: its last byte drained), on the same clock
    };

    /** Replaces the list of output ports the system offers, in system order.
        Takes effect for the next listing; ports already open stay as they are. */
    void setOutputPorts (const std::vector<std::string>& names);

    /** Makes opening (connecting to) the named port fail, or succeed again. */
    void setOpenRefused (const std::string& name, bool refused);

    /** Makes the named port a USB MIDI device's: its sequencer client reports
        a card, and the raw MIDI device behind the port (hw:CARD,0,0) can be
        opened for output, with a buffer of 4,096 bytes that the device drains
        at this many bytes a second. A message sent there counts as received
        once the device has its last byte. Takes effect for the next listing
        and the next open. */
    void setRawMidiPort (const std::string& name, std::int64_t bytesPerSecond);

    /** The least time a real USB MIDI device took, on the real kernel, to
        leave the system once it had decided to (30 to 180 ms were seen). */
    constexpr std::chrono::milliseconds usbDepartureTime { 30 };

    /** Unplugs the named port once it has received this many messages (0: at
        once), as a device pulled out: it leaves the listings, its connections
        end, and whatever is sent over them afterwards is lost (see
        getNumLostEvents). With backAfter, it comes back that much later, like a
        device that restarts, at the address it had (a USB device on the real
        system comes back with the same card and client number). A USB device
        takes nothing after the last of those messages (what the driver still
        sends it never arrives) and goes goneAfter later; every later call on
        its raw MIDI output fails with -ENODEV. */
    void unplugAfter (const std::string& name, int numMessages,
                      std::optional<std::chrono::milliseconds> backAfter = std::nullopt,
                      std::chrono::milliseconds goneAfter = usbDepartureTime);

    /** Makes the named port stop taking messages once it has received this
        many: its raw MIDI device drains no byte after that message, and a
        sequencer send to it is lost, or, from a blocking client (Wine's),
        blocks until reset(), like a wedged Windows driver. */
    void setStuckAfter (const std::string& name, int numMessages);

    /** Messages sent to the named port over connections that its unplugging ended. */
    int getNumLostEvents (const std::string& name);

    /** Writes every event received from now on to this capture file as well
        (format in CaptureFormat.h), replacing any file written so far; an empty
        path stops writing. Returns false when the file cannot be created. */
    bool setCaptureFile (const std::string& path);

    /** Applies the VIRTUAL_MIDI_* environment variables that are set (see
        README.md); done once when the service is loaded. */
    void configureFromEnvironment();

    /** Everything received so far, in arrival order. */
    std::vector<Event> getEvents();

    /** Forgets the events received so far. */
    void clearEvents();

    /** Number of connections from a program's port to a virtual port, and of
        open raw MIDI outputs that have not been unplugged: one per open output. */
    int getNumOpenConnections();

    /** Back to no ports, nothing refused, no unplugging, no events
        and no capture file. Connections that are open stay until their program closes them. */
    void reset();
}
