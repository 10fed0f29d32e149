#pragma once

#include "upload/ProgressClass.h"

#include <juce_gui_basics/juce_gui_basics.h>

class BasicSysexProtocolClass;
class BrenloHelpWindowClass;
class FirmwareImageClass;
class MidiInterfaceClass;

//==============================================================================
/**
    The update panel: the main window's content and the place where the parts
    of the updater meet.

    It creates and owns the firmware image record, the MIDI interface with its
    output selector, the upload protocol and the help window, and guides the
    user through two steps: STEP1 picks the pedal's MIDI output, STEP2 starts
    the upload and shows its progress and status. It follows two broadcasters,
    the MIDI interface (device chosen or dropped) and the protocol's progress
    source (progress or status changed), and re-reads every value it shows on
    each notification, because notifications are coalesced.

    The panel draws nothing itself; the window's background shows between its
    children.

    Ownership: raw owning pointers, torn down by the destructor in a fixed
    order (see there). The main window reads firmwareImage (for its title)
    and stops an upload on close through stopUpload().

    Threads: everything here runs on the message thread. The protocol thread
    never touches the panel or its components; it reaches them only through the
    asynchronous change notifications of its progress source, and never waits
    for the message thread.
*/
class ContentComp  : public juce::Component,
                     public juce::Button::Listener,
                     public juce::ChangeListener
{
public:
    /** Builds the panel and everything it owns. Neither the owning window nor
        the command line is used beyond construction. */
    ContentComp (juce::DocumentWindow* ownerWindow, juce::String commandLine);

    /** Tears down in this order: the protocol (which stops its thread, so
        nothing sends through the MIDI interface or reads the image record any
        more), all child components (the MIDI interface among them, which closes
        the output), the firmware image record, the help window. */
    ~ContentComp() override;

    /** Lays out the children and re-centres the help window at 550 x 400. */
    void resized() override;

    /** Update button: starts an upload, or warns when no output is connected.
        Help button: shows or hides the help window. */
    void buttonClicked (juce::Button* button) override;

    /** Follows the MIDI interface or what the protocol publishes. */
    void changeListenerCallback (juce::ChangeBroadcaster* source) override;

    /** Asks a running upload to stop at its next message boundary and waits up
        to timeoutMs for its thread to end; true if no thread runs any more. */
    bool stopUpload (int timeoutMs);

    /** The information line for an image record: what will be updated to which
        version, with " - R" and the revision when the revision is not 0. */
    static juce::String makeInfoText (const FirmwareImageClass& image);

    //==============================================================================
    /** Owned; the upload protocol, whose progress source the panel follows. */
    BasicSysexProtocolClass* protocol = nullptr;

    /** Owned; a separate top-level window, never a child of the panel. */
    BrenloHelpWindowClass* helpWindow = nullptr;

    /** A child component (deleted with the other children); the output selector. */
    MidiInterfaceClass* midiInterface = nullptr;

    juce::TextButton* updateButton = nullptr;
    juce::ProgressBar* progressBar = nullptr;

    /** The status line, attached above the progress bar. */
    juce::Label* progressLabel = nullptr;

    /** The fraction shown by the progress bar, which polls it by itself. */
    double progress = 0.0;

    juce::TextButton* helpButton = nullptr;
    juce::Label* infoLabel = nullptr;
    juce::Label* step1Label = nullptr;
    juce::Label* step2Label = nullptr;

    /** Owned; the one firmware image record. */
    FirmwareImageClass* firmwareImage = nullptr;

    juce::TooltipWindow tooltipWindow;

private:
    /** Sets the selector, the update button and the status line from the
        upload's state, the connection and what the upload last said: while an
        upload runs the selector and the button are disabled; otherwise the
        selector is enabled, and the button is enabled and light green while an
        output is open, disabled and light red while none is. */
    void updateControls();

    juce::String uploadStatusLine { "Update progress:" };
    ProgressClass::UploadState lastUploadState = ProgressClass::UploadState::idle;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ContentComp)
};
