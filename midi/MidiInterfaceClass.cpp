#include "midi/MidiInterfaceClass.h"
#include "midi/MidiDeviceList.h"

//==============================================================================
/** The output selector, which reads the device list again each time the user
    opens it, so that a device plugged in or restarted since is offered. */
class MidiInterfaceClass::OutputSelector  : public juce::ComboBox
{
public:
    explicit OutputSelector (MidiInterfaceClass& ownerToUse)
        : juce::ComboBox ("Output Selector"), owner (ownerToUse)
    {
    }

    void showPopup() override
    {
        owner.refreshOutputList();
        juce::ComboBox::showPopup();
    }

private:
    MidiInterfaceClass& owner;
};

//==============================================================================
MidiInterfaceClass::MidiInterfaceClass()
{
    readOutputDevices();

    outputSelector = new OutputSelector (*this);
    addAndMakeVisible (outputSelector);
    outputSelector->setColour (juce::ComboBox::buttonColourId, juce::Colour (0xffffffff));

    outputLabel = new juce::Label ({}, "Select an output device:");
    outputLabel->attachToComponent (outputSelector, false);

    fillOutputSelector();

    // Reported asynchronously, so comboBoxChanged() sees it once the listener
    // below is in place and construction is over.
    outputSelector->setSelectedId (numOutputDevices + 1, juce::sendNotification);
    outputSelector->addListener (this);
}

MidiInterfaceClass::~MidiInterfaceClass()
{
    deleteAllChildren();
    midiInput.reset();
    releaseOutput();
}

//==============================================================================
int MidiInterfaceClass::readReceivedBytes (juce::uint8* destination, juce::uint32 maximumCount)
{
    if (midiInput == nullptr)
        return 0;

    juce::uint32 numCopied = 0;

    while (numCopied < maximumCount)
    {
        if (receiveReadIndex >= receiveBufferSize)
            receiveReadIndex = 0;

        if (receiveReadIndex == receiveWriteIndex)
            break;

        destination[numCopied++] = receiveBuffer[receiveReadIndex++];
    }

    return (int) numCopied;
}

SendResult MidiInterfaceClass::sendBytes (const juce::uint8* bytes, int numBytes)
{
    std::shared_ptr<SysexOutput> output;

    {
        const juce::ScopedLock sl (outputLock);
        output = midiOutput;
    }

    if (output == nullptr)
        return { SendResult::Status::notOpen };

    return output->send (bytes, numBytes);
}

bool MidiInterfaceClass::isConnected()
{
    if (! useOutput && ! useInput)
        return false;

    const juce::ScopedLock sl (outputLock);

    return (! useOutput || midiOutput != nullptr)
        && (! useInput || midiInput != nullptr);
}

int MidiInterfaceClass::getPreferredHeight()
{
    return useOutput && useInput ? 100 : 50;
}

void MidiInterfaceClass::selectOutput (int itemId)
{
    outputSelector->setSelectedId (itemId, juce::sendNotification);
    sendChangeMessage();
    releaseOutput();

    if (itemId >= 1 && itemId <= numOutputDevices)
        openChosenOutput (itemId - 1);
}

void MidiInterfaceClass::selectInput (int)
{
    // The input side is off in this program: there is nothing to select.
}

bool MidiInterfaceClass::isOutputPresent()
{
    std::shared_ptr<SysexOutput> output;

    {
        const juce::ScopedLock sl (outputLock);
        output = midiOutput;
    }

    return output != nullptr && output->isPresent();
}

//==============================================================================
bool MidiInterfaceClass::reopenOutput()
{
    if (chosenOutput.identifier.isEmpty())
        return false;

    releaseOutput();

    if (openOutput (chosenOutput, chosenOutputName))
        return true;

    sendChangeMessage();
    return false;
}

void MidiInterfaceClass::closeOutput()
{
    releaseOutput();
    sendChangeMessage();
}

//==============================================================================
void MidiInterfaceClass::resized()
{
    if (useOutput)
        outputSelector->setBounds (0, 20, getWidth(), 30);
}

void MidiInterfaceClass::comboBoxChanged (juce::ComboBox* comboBoxThatHasChanged)
{
    if (comboBoxThatHasChanged != outputSelector)
        return;

    const auto itemId = outputSelector->getSelectedId();

    if (itemId >= 1 && itemId <= numOutputDevices)
    {
        releaseOutput();
        openChosenOutput (itemId - 1);
        sendChangeMessage();
    }
    else if (itemId == numOutputDevices + 1)
    {
        releaseOutput();
        chosenOutput = {};

        outputProblem = OutputProblem::none;
        sendChangeMessage();
    }
}

void MidiInterfaceClass::handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message)
{
    const auto* data = message.getRawData();

    for (int i = 0; i < message.getRawDataSize(); ++i)
    {
        receiveBuffer[receiveWriteIndex] = data[i];

        // Computed aside so that the reader never sees the index at 256.
        const auto next = receiveWriteIndex + 1;
        receiveWriteIndex = next == receiveBufferSize ? 0 : next;
    }
}

//==============================================================================
void MidiInterfaceClass::readOutputDevices()
{
    outputDevices = MidiDeviceList::getOutputs();

    // Named as the framework's own list of output names shows them: equal names
    // get " (1)", " (2)"... so that every item can be told apart.
    outputDeviceNames.clear();

    for (const auto& device : outputDevices)
        outputDeviceNames.add (device.name);

    outputDeviceNames.appendNumbersToDuplicates (true, true);
    numOutputDevices = outputDeviceNames.size();
}

void MidiInterfaceClass::fillOutputSelector()
{
    outputSelector->clear (juce::dontSendNotification);
    outputSelector->addItem ("(Disconnected)", numOutputDevices + 1);
    outputSelector->addSeparator();

    for (int i = 0; i < numOutputDevices; ++i)
        outputSelector->addItem (outputDeviceNames[i], i + 1);
}

/** Reads the list again and shows the open device under its new id. A device
    that is not open is not shown as chosen, so that choosing it again is a
    change the selector reports; one that was open but has gone is closed. */
void MidiInterfaceClass::refreshOutputList()
{
    readOutputDevices();
    fillOutputSelector();

    auto itemId = numOutputDevices + 1;

    if (isConnected())
    {
        auto position = -1;

        for (int i = 0; i < outputDevices.size() && position < 0; ++i)
            if (outputDevices.getReference (i) == chosenOutput)
                position = i;

        if (position >= 0)
        {
            itemId = position + 1;
        }
        else
        {
            releaseOutput();
            outputProblem = OutputProblem::notPresent;
            sendChangeMessage();
        }
    }

    if (itemId == numOutputDevices + 1)
        chosenOutput = {};

    outputSelector->setSelectedId (itemId, juce::dontSendNotification);
}

void MidiInterfaceClass::openChosenOutput (int position)
{
    openOutput (outputDevices[position], outputDeviceNames[position]);
}

/** Makes the device the current choice and opens it, if it is still listed as
    it was; the name is kept as the selector shows it, for the status line. */
bool MidiInterfaceClass::openOutput (const juce::MidiDeviceInfo& device, const juce::String& nameShown)
{
    chosenOutput = device;
    chosenOutputName = nameShown;

    if (SysexOutput::isLeftBehind (device))
    {
        outputProblem = OutputProblem::leftBehind;
        return false;
    }

    if (! MidiDeviceList::containsOutput (device))
    {
        outputProblem = OutputProblem::notPresent;
        return false;
    }

    std::shared_ptr<SysexOutput> opened = SysexOutput::open (device);

    if (opened == nullptr)
    {
        outputProblem = OutputProblem::openFailed;
        return false;
    }

    outputProblem = OutputProblem::none;

    const juce::ScopedLock sl (outputLock);
    midiOutput = std::move (opened);
    return true;
}

/** The output goes once the last send that uses it has returned, outside the lock. */
void MidiInterfaceClass::releaseOutput()
{
    std::shared_ptr<SysexOutput> released;

    {
        const juce::ScopedLock sl (outputLock);
        released = std::move (midiOutput);
    }
}
