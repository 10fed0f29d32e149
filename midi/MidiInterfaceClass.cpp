#include "midi/MidiInterfaceClass.h"

//==============================================================================
MidiInterfaceClass::MidiInterfaceClass()
{
    // Named as the framework's own list of output names shows them: equal names
    // get " (1)", " (2)"... so that every item can be told apart.
    for (const auto& device : juce::MidiOutput::getAvailableDevices())
        outputDeviceNames.add (device.name);

    outputDeviceNames.appendNumbersToDuplicates (true, true);
    numOutputDevices = outputDeviceNames.size();

    outputSelector = new juce::ComboBox ("Output Selector");
    addAndMakeVisible (outputSelector);
    outputSelector->setColour (juce::ComboBox::buttonColourId, juce::Colour (0xffffffff));

    outputLabel = new juce::Label ({}, "Select an output device:");
    outputLabel->attachToComponent (outputSelector, false);

    outputSelector->addItem ("(Disconnected)", numOutputDevices + 1);
    outputSelector->addSeparator();

    for (int i = 0; i < numOutputDevices; ++i)
        outputSelector->addItem (outputDeviceNames[i], i + 1);

    // Reported asynchronously, so comboBoxChanged() sees it once the listener
    // below is in place and construction is over.
    outputSelector->setSelectedId (numOutputDevices + 1, juce::sendNotification);
    outputSelector->addListener (this);
}

MidiInterfaceClass::~MidiInterfaceClass()
{
    deleteAllChildren();
    midiInput.reset();
    closeOutput();
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

int MidiInterfaceClass::sendBytes (const juce::uint8* bytes, int numBytes)
{
    const juce::ScopedLock sl (outputLock);

    if (midiOutput == nullptr)
        return 0;

    midiOutput->sendMessageNow (juce::MidiMessage (bytes, numBytes, 0.0));
    return 0;
}

bool MidiInterfaceClass::isConnected()
{
    if (! useOutput && ! useInput)
        return false;

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
    closeOutput();

    if (itemId <= numOutputDevices)
        openOutput (itemId - 1);
}

void MidiInterfaceClass::selectInput (int)
{
    // The input side is off in this program: there is nothing to select.
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
        closeOutput();
        openOutput (itemId - 1);
        sendChangeMessage();
    }
    else if (itemId == numOutputDevices + 1)
    {
        closeOutput();
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
void MidiInterfaceClass::closeOutput()
{
    const juce::ScopedLock sl (outputLock);
    midiOutput.reset();
}

void MidiInterfaceClass::openOutput (int position)
{
    // Resolved now, not at construction: the item's position refers to the
    // device list of the moment, whatever device that is.
    const auto devices = juce::MidiOutput::getAvailableDevices();

    if (! juce::isPositiveAndBelow (position, devices.size()))
        return;

    // Opened outside the lock, so a send never waits for a slow open.
    auto opened = juce::MidiOutput::openDevice (devices.getReference (position).identifier);

    const juce::ScopedLock sl (outputLock);
    midiOutput = std::move (opened);
}
