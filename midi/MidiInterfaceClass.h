#pragma once

#include "midi/InterfaceBaseClass.h"
#include "midi/SysexOutput.h"

#include <juce_audio_devices/juce_audio_devices.h>
#include <memory>

//==============================================================================
/**
    The device interface on top of JUCE's MIDI devices: a combo box that lists
    the system's MIDI outputs under the label "Select an output device:", the
    output the user chooses there, and whole messages sent to that output.

    The list is read at construction and again each time the user opens the
    selector, keeping the current choice selected if its device is still there.
    Item ids: the output at position i of the list last read has id i + 1, and
    "(Disconnected)" has id N + 1 (N outputs), shown at the top above a
    separator and selected at start. A choice opens its device by the
    identifier the framework listed it with, never by its position: if that
    device is gone or refuses, nothing is opened and getOutputProblem() says
    why. Every change of the chosen device is broadcast (asynchronously and
    coalesced, as ChangeBroadcaster does); one broadcast also follows
    construction.

    The class also carries an input side (a ring of received bytes), which this
    program keeps switched off: no input selector is built, no input is opened
    and nothing is received.

    Threads:
    - message thread: construction, destruction, resized(), comboBoxChanged(),
      isConnected(), getPreferredHeight(), selectOutput(), selectInput(),
      reopenOutput(), closeOutput() and the problem getters;
    - protocol thread: sendBytes() and isOutputPresent();
    - MIDI input thread (input side only): handleIncomingMidiMessage().

    No lock is held while a message is sent: a send keeps its output alive by
    sharing it, so closing or replacing the output never waits for a send, and
    never deletes the output under one.
*/
class MidiInterfaceClass  : public InterfaceBaseClass,
                            public juce::ComboBox::Listener,
                            public juce::MidiInputCallback
{
public:
    /** Why the output last chosen is not open. */
    enum class OutputProblem
    {
        none,
        notPresent,     ///< the device is no longer among the system's outputs
        openFailed,     ///< the device is there but could not be opened (busy, for one)
        leftBehind      ///< an earlier output of the device stopped responding, and its driver still holds it
    };

    /** Reads the outputs, builds the selector and selects "(Disconnected)";
        the selection is reported to comboBoxChanged() once construction is over. */
    MidiInterfaceClass();

    /** Deletes the child components (last-added first), then the open input,
        then the open output. A pending broadcast is cancelled. */
    ~MidiInterfaceClass() override;

    //==============================================================================
    /** Copies pending received bytes, in arrival order, up to maximumCount, and
        returns how many; 0 when no input is open (always, in this program).
        Called by the reader of the input side. */
    int readReceivedBytes (juce::uint8* destination, juce::uint32 maximumCount) override;

    /** Sends numBytes (more than 0) bytes as one MIDI message to the open output
        and returns when it has left, failed or timed out; notOpen without an
        open output. The bytes are not examined. Called on the protocol thread. */
    SendResult sendBytes (const juce::uint8* bytes, int numBytes) override;

    /** True when every switched-on side has an open device; in this program,
        exactly while an output is open. Called on the message thread. */
    bool isConnected() override;

    /** 50 pixels per selector (a 30-pixel combo box under a 20-pixel label):
        100 when both sides are on, otherwise 50. Called on the message thread. */
    int getPreferredHeight() override;

    /** Selects itemId in the output selector with notification, broadcasts a
        change, closes the open output and, if itemId is at most N, opens that
        item's device. When the selection changed, the selector reports it later
        as well, which closes and opens the device once more.
        Called on the message thread. */
    void selectOutput (int itemId) override;

    /** Does nothing: the input side is off. Called on the message thread. */
    void selectInput (int itemId) override;

    /** True while the open output's device is still there, as the output
        tells it (its own errors, or the system's announcements): it asks
        nothing that disturbs other programs. Called on the protocol thread. */
    bool isOutputPresent() override;

    //==============================================================================
    /** Closes the chosen output and opens it anew, by its identifier, so that
        an upload never goes to a connection that a device left behind when it
        restarted. False, with a broadcast and the problem noted, when the
        device is gone or refuses; false without one when nothing is chosen.
        Called on the message thread. */
    bool reopenOutput();

    /** Closes the open output and broadcasts; the choice stays shown, and
        opening the selector offers it again. Called on the message thread. */
    void closeOutput();

    /** Why the output last chosen is not open, until the next choice. */
    OutputProblem getOutputProblem() const noexcept     { return outputProblem; }

    /** The name of the device last chosen, as the selector showed it: the one
        getOutputProblem() is about. */
    juce::String getChosenOutputName() const     { return chosenOutputName; }

    //==============================================================================
    /** Places the output selector at (0, 20) across the full width, 30 high; its
        label follows it by itself. Called on the message thread. */
    void resized() override;

    /** A choice in the output selector: a device item closes the open output,
        opens the chosen one and broadcasts; "(Disconnected)" closes and
        broadcasts; any other id changes nothing. Called on the message thread. */
    void comboBoxChanged (juce::ComboBox* comboBoxThatHasChanged) override;

    /** Stores every byte of the message, status byte included, in the receive
        ring, overwriting the oldest unread bytes when the ring is full. Takes no
        lock and allocates nothing. Called on the MIDI input thread. */
    void handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message) override;

private:
    //==============================================================================
    class OutputSelector;

    void readOutputDevices();
    void fillOutputSelector();
    void refreshOutputList();
    void openChosenOutput (int position);
    bool openOutput (const juce::MidiDeviceInfo& device, const juce::String& nameShown);
    void releaseOutput();

    //==============================================================================
    static constexpr juce::uint32 receiveBufferSize = 256;

    int numOutputDevices = 0;
    int numInputDevices = 0;
    bool useInput = false;
    bool useOutput = true;
    juce::StringArray outputDeviceNames;
    juce::Array<juce::MidiDeviceInfo> outputDevices;
    std::shared_ptr<SysexOutput> midiOutput;
    juce::StringArray inputDeviceNames;
    std::unique_ptr<juce::MidiInput> midiInput;
    juce::ComboBox* outputSelector = nullptr;
    juce::Label* outputLabel = nullptr;
    juce::ComboBox* inputSelector = nullptr;
    juce::uint8 receiveBuffer[receiveBufferSize] = {};
    juce::uint32 receiveWriteIndex = 0;
    juce::uint32 receiveReadIndex = 0;

    /** The device of the current choice; no identifier while "(Disconnected)"
        is chosen. */
    juce::MidiDeviceInfo chosenOutput;

    OutputProblem outputProblem = OutputProblem::none;
    juce::String chosenOutputName;

    /** Guards midiOutput; held only to read or swap it. */
    juce::CriticalSection outputLock;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MidiInterfaceClass)
};
