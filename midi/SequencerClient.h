#pragma once

#include <juce_core/juce_core.h>

#include <memory>
#include <optional>

struct _snd_seq;

//==============================================================================
/**
    A client of the ALSA sequencer of the program's own, for what the
    framework's MIDI classes cannot say about a port they list: which raw MIDI
    device lies behind it, and whether the program's connection to it holds.

    Ports are named by the identifier the framework lists them with,
    "CLIENT-PORT".

    Threads: any; the calls are serialised by a lock of its own. Linux only.
*/
class SequencerClient
{
public:
    /** Null when the system has no sequencer. */
    static std::unique_ptr<SequencerClient> open();

    ~SequencerClient();

    /** The raw MIDI device ("hw:CARD,DEVICE,SUBDEVICE") that the kernel's
        bridge serves through this port; nothing for a port with none behind
        it (a program's, a virtual one) or one that is not there. */
    std::optional<juce::String> findRawMidiDeviceBehind (const juce::String& identifier);

    /** True if a port of this process's own clients writes to this port: the
        framework opens an output even when the system refuses its connection,
        and then sends into nothing, so the connection has to be looked for. */
    bool isWrittenToByThisProcess (const juce::String& identifier);

    /** The raw MIDI device that the kernel's bridge serves through this port
        of a card's sequencer client. */
    static juce::String getRawMidiDeviceName (int card, int port);

    /** The client and port of a framework identifier, if it is one. */
    static std::optional<std::pair<int, int>> parseIdentifier (const juce::String& identifier);

private:
    explicit SequencerClient (_snd_seq* handleToUse);

    _snd_seq* const handle;
    juce::CriticalSection lock;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SequencerClient)
};
