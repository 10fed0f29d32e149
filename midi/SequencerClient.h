#pragma once

#include <juce_audio_devices/juce_audio_devices.h>

#include <map>
#include <optional>

struct _snd_seq;

//==============================================================================
/**
    The program's one client of the ALSA sequencer, kept for the program's
    life, for what the framework's MIDI classes cannot tell or would tell only
    by opening and closing a client of their own each time (which every other
    MIDI program on the system hears about): the outputs, with their names as
    the system gives them (UTF-8); which raw MIDI device lies behind a port;
    whether the program's connection to a port holds; and whether a port has
    left the system since it was opened, from the system's announcements.

    Ports are named by the identifier the framework lists them with,
    "CLIENT-PORT".

    Threads: any; the calls are serialised by a lock of its own. Linux only.
*/
class SequencerClient  : private juce::DeletedAtShutdown
{
public:
    JUCE_DECLARE_SINGLETON (SequencerClient, true)

    /** False when the system has no sequencer; every question then finds nothing. */
    bool isOpen() const noexcept    { return handle != nullptr; }

    /** The outputs, in the order and under the identifiers the framework
        gives them, named as the system names them. */
    juce::Array<juce::MidiDeviceInfo> getOutputs();

    /** The raw MIDI device ("hw:CARD,DEVICE,SUBDEVICE") that the kernel's
        bridge serves through this port; nothing for a port with none behind
        it (a program's, a virtual one) or one that is not there. */
    std::optional<juce::String> findRawMidiDeviceBehind (const juce::String& identifier);

    /** True if a port of this process's own clients writes to this port: the
        framework opens an output even when the system refuses its connection,
        and then sends into nothing, so the connection has to be looked for. */
    bool isWrittenToByThisProcess (const juce::String& identifier);

    /** Starts listening for the port's leaving, and says whether it is there
        now. A port that leaves and comes back under the same address counts
        as gone: connections to it ended when it left. */
    bool watch (const juce::String& identifier);

    /** True once the watched port has left (or was never there). */
    bool hasLeft (const juce::String& identifier);

    void stopWatching (const juce::String& identifier);

    /** The raw MIDI device that the kernel's bridge serves through this port
        of a card's sequencer client. */
    static juce::String getRawMidiDeviceName (int card, int port);

    /** The client and port of a framework identifier, if it is one. */
    static std::optional<std::pair<int, int>> parseIdentifier (const juce::String& identifier);

private:
    SequencerClient();
    ~SequencerClient() override;

    void readAnnouncements();
    bool portExists (int client, int port);

    _snd_seq* handle = nullptr;
    bool listening = false;
    juce::CriticalSection lock;

    /** Watched ports by address, and whether each has left. */
    std::map<std::pair<int, int>, bool> watched;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SequencerClient)
};
