#pragma once

#include "midi/InterfaceBaseClass.h"

#include <juce_audio_devices/juce_audio_devices.h>

//==============================================================================
/**
    The device interface on top of JUCE's MIDI devices: a combo box that lists
    the system's MIDI outputs under the label "Select an output device:", the
    output the user chooses there, and whole messages sent to that output.

    The output names are read once, at construction; there is no rescan. Item
    ids: the output at position i of that list has id i + 1, and
    "(Disconnected)" has id N + 1 (N outputs), shown at the top above a
    separator and selected at start. A device is opened by its position in the
    system's device list at the moment of opening, never by its name. Every
    change of the chosen device is broadcast (asynchronously and coalesced, as
    ChangeBroadcaster does); one broadcast also follows construction.

    The class also carries an input side (a ring of received bytes), which this
    program keeps switched off: no input selector is built, no input is opened
    and nothing is received.

    Threads:
    - message thread: construction, destruction, resized(), comboBoxChanged(),
      isConnected(), getPreferredHeight(), selectOutput(), selectInput();
    - protocol thread: sendBytes();
    - MIDI input thread (input side only): handleIncomingMidiMessage().

    The interface must not be destroyed while another thread can still call
    sendBytes().
*/
class MidiInterfaceClass  : public InterfaceBaseClass,
                            public juce::ComboBox::Listener,
                            public juce::MidiInputCallback
{
public:
    /** Reads the output names, builds the selector and selects "(Disconnected)";
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
        with MidiOutput::sendMessageNow on the calling thread, and returns when
        the framework has handed it over. The bytes are copied, not examined.
        Without an open output nothing is sent. Always returns 0.
        Called on the protocol thread. */
    int sendBytes (const juce::uint8* bytes, int numBytes) override;

    /** True when every switched-on side has an open device; in this program,
        exactly while an output is open. Called on the message thread. */
    bool isConnected() override;

    /** 50 pixels per selector (a 30-pixel combo box under a 20-pixel label):
        100 when both sides are on, otherwise 50. Called on the message thread. */
    int getPreferredHeight() override;

    /** Selects itemId in the output selector with notification, broadcasts a
        change, closes the open output and, if itemId is at most N, opens the
        device at position itemId - 1. When the selection changed, the selector
        reports it later as well, which closes and opens the device once more.
        Called on the message thread. */
    void selectOutput (int itemId) override;

    /** Does nothing: the input side is off. Called on the message thread. */
    void selectInput (int itemId) override;

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
    /** Closes the open output, if any. */
    void closeOutput();

    /** Opens the device at this position of the current device list; leaves no
        output open if the position is gone or the device refuses. */
    void openOutput (int position);

    //==============================================================================
    static constexpr juce::uint32 receiveBufferSize = 256;

    int numOutputDevices = 0;
    int numInputDevices = 0;
    bool useInput = false;
    bool useOutput = true;
    juce::StringArray outputDeviceNames;
    std::unique_ptr<juce::MidiOutput> midiOutput;
    juce::StringArray inputDeviceNames;
    std::unique_ptr<juce::MidiInput> midiInput;
    juce::ComboBox* outputSelector = nullptr;
    juce::Label* outputLabel = nullptr;
    juce::ComboBox* inputSelector = nullptr;
    juce::uint8 receiveBuffer[receiveBufferSize] = {};
    juce::uint32 receiveWriteIndex = 0;
    juce::uint32 receiveReadIndex = 0;

    /** Held by sendBytes() while it uses the open output, and by the message
        thread while it deletes or replaces it. The panel enables the selector
        again when the published progress reaches 1.0, which can be before the
        protocol thread's last send has returned; a choice made then must not
        delete the output under that send. */
    juce::CriticalSection outputLock;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MidiInterfaceClass)
};
