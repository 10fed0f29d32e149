#include "ContentComp.h"
#include "BrenloHelpWindowClass.h"
#include "firmware/FirmwareImageClass.h"
#include "midi/MidiInterfaceClass.h"
#include "upload/BasicSysexProtocolClass.h"

//==============================================================================
ContentComp::ContentComp (juce::DocumentWindow*, juce::String)
{
    helpWindow = new BrenloHelpWindowClass();
    midiInterface = new MidiInterfaceClass();

    firmwareImage = new FirmwareImageClass();
    firmwareImage->setName ("Quillet Q7");
    firmwareImage->fixedPacing = 1;

    protocol = new BasicSysexProtocolClass (midiInterface, firmwareImage);

    addAndMakeVisible (midiInterface);

    protocol->addChangeListener (this);
    midiInterface->addChangeListener (this);

    infoLabel = new juce::Label (juce::String(), makeInfoText (*firmwareImage));
    addAndMakeVisible (infoLabel);

    step1Label = new juce::Label (juce::String(), "STEP1");
    addAndMakeVisible (step1Label);

    step2Label = new juce::Label (juce::String(), "STEP2");
    addAndMakeVisible (step2Label);

    updateButton = new juce::TextButton ("update", "click here to update the product");
    addAndMakeVisible (updateButton);
    updateButton->addListener (this);

    // The button sits flush against the right end of the progress bar.
    updateButton->setConnectedEdges (juce::Button::ConnectedOnLeft);

    progress = 0.0;
    progressBar = new juce::ProgressBar (progress);
    addAndMakeVisible (progressBar);
    progressBar->setColour (juce::ProgressBar::backgroundColourId, juce::Colours::white);

    // Attached above the bar (not to its left): the label becomes the panel's
    // child, and the framework keeps it on the bar's top edge, as wide as the bar.
    progressLabel = new juce::Label (juce::String(), uploadStatusLine);
    progressLabel->attachToComponent (progressBar, false);

    helpButton = new juce::TextButton ("Help", "click here to get help");
    addAndMakeVisible (helpButton);
    helpButton->setColour (juce::TextButton::buttonColourId, juce::Colour (0xffeff2f3));
    helpButton->addListener (this);

    updateControls();
}

ContentComp::~ContentComp()
{
    // The protocol's thread uses the MIDI interface and the image record, so
    // it has to be stopped (by deleting the protocol) before either goes.
    delete protocol;

    // Last added first: the MIDI interface, which closes the output, goes last.
    deleteAllChildren();

    delete firmwareImage;
    delete helpWindow;

    protocol = nullptr;
    firmwareImage = nullptr;
    helpWindow = nullptr;
}

//==============================================================================
void ContentComp::resized()
{
    auto width = getWidth();

    infoLabel->setBounds (10, 15, width - 20, 50);
    helpButton->setBounds (width - 104, 25, 94, 30);
    step1Label->setBounds (10, infoLabel->getBottom() + 5, width - 20, 30);
    midiInterface->setBounds (10, step1Label->getBottom() + 5, width - 20, midiInterface->getPreferredHeight());
    step2Label->setBounds (10, midiInterface->getBottom() + 10, width - 20, 30);
    updateButton->setBounds (width - 104, step2Label->getBottom() + 20, 94, 30);
    progressBar->setBounds (10, step2Label->getBottom() + 20, width - 114, 30);

    // With no parent component, the help window centres on the main display,
    // whether it is shown or not.
    helpWindow->centreWithSize (550, 400);
}

void ContentComp::buttonClicked (juce::Button* button)
{
    if (button == updateButton)
    {
        if (midiInterface->isConnected())
        {
            // A pedal that restarted since it was chosen may be back under the
            // same name with its old connection dead, or not back at all.
            if (midiInterface->reopenOutput())
            {
                // Disabled before the protocol thread exists, so the output
                // cannot change under its first message; updateControls() then
                // keeps it so until the upload's end is published.
                midiInterface->setEnabled (false);
                progress = 0.0;
                protocol->startProtocol();

                // The panel may hear of this upload only once it has ended
                // (notifications are coalesced), and must still see that end
                // as new, however the last upload ended.
                lastUploadState = ProgressClass::UploadState::uploading;
            }

            updateControls();
        }
        else
        {
            // Runs a modal loop that keeps delivering messages, change
            // notifications included, until the user dismisses the alert.
            juce::AlertWindow::showMessageBox (juce::MessageBoxIconType::WarningIcon,
                                               juce::String(),
                                               "Please select an output device:");
        }
    }
    else if (button == helpButton)
    {
        helpWindow->setVisible (! helpWindow->isVisible());
        helpWindow->centreWithSize (550, 400);
    }
}

void ContentComp::changeListenerCallback (juce::ChangeBroadcaster* source)
{
    if (source == protocol)
    {
        progress = protocol->progress.load();
        uploadStatusLine = "Update progress: " + protocol->getStatusText();

        // A device that failed is closed, so the user chooses it again once
        // it is back in its update mode.
        const auto state = protocol->getUploadState();

        if (state != lastUploadState && state == ProgressClass::UploadState::deviceFailed)
            midiInterface->closeOutput();

        lastUploadState = state;
    }

    if (source == protocol || source == midiInterface)
        updateControls();

    repaint();
}

bool ContentComp::stopUpload (int timeoutMs)
{
    protocol->signalThreadShouldExit();
    return protocol->waitForThreadToExit (timeoutMs);
}

juce::String ContentComp::makeInfoText (const FirmwareImageClass& image)
{
    auto text = "This will update your " + image.getName() + " to version " + image.getVersion();

    if (image.revision != 0)
        text << " - R" << juce::String (image.revision);

    return text;
}

//==============================================================================
void ContentComp::updateControls()
{
    // From the start of an upload until its end is published, the output
    // cannot be changed under the protocol thread, and no second upload starts.
    const auto uploading = protocol->getUploadState() == ProgressClass::UploadState::uploading;
    const auto connected = midiInterface->isConnected();

    midiInterface->setEnabled (! uploading);
    updateButton->setEnabled (connected && ! uploading);
    updateButton->setColour (juce::TextButton::buttonColourId,
                             connected ? juce::Colour (0xff008000).brighter (0.99f)
                                       : juce::Colour (0xffff0000).brighter (0.99f));

    // Why the chosen device did not open, until the next choice; otherwise
    // what the upload last said.
    const auto deviceName = midiInterface->getChosenOutputName();

    switch (midiInterface->getOutputProblem())
    {
        case MidiInterfaceClass::OutputProblem::notPresent:
            progressLabel->setText (deviceName + " is not connected: choose it again when it shows up", juce::dontSendNotification);
            break;

        case MidiInterfaceClass::OutputProblem::openFailed:
            progressLabel->setText (deviceName + " could not be opened: quit any other program that uses it, then choose it again",
                                    juce::dontSendNotification);
            break;

        case MidiInterfaceClass::OutputProblem::leftBehind:
            progressLabel->setText (deviceName + " did not answer: unplug and reconnect it, then restart the updater",
                                    juce::dontSendNotification);
            break;

        case MidiInterfaceClass::OutputProblem::none:
            progressLabel->setText (uploadStatusLine, juce::dontSendNotification);
            break;
    }
}
