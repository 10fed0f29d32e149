#include "midi/MidiInterfaceClass.h"
#include "midi/ThreadChecks.h"
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
    JUCE_ASSERT_MESSAGE_THREAD

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
    JUCE_ASSERT_MESSAGE_THREAD

    deleteAllChildren();
    midiInput.reset();
    output.release();
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
    QUILLET_ASSERT_NOT_MESSAGE_THREAD;

    return output.send (bytes, numBytes);
}

bool MidiInterfaceClass::isConnected()
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (! useOutput && ! useInput)
        return false;

    return (! useOutput || output.isOpen())
        && (! useInput || midiInput != nullptr);
}

int MidiInterfaceClass::getPreferredHeight()
{
    JUCE_ASSERT_MESSAGE_THREAD

    return useOutput && useInput ? 100 : 50;
}

void MidiInterfaceClass::selectOutput (int itemId)
{
    JUCE_ASSERT_MESSAGE_THREAD

    outputSelector->setSelectedId (itemId, juce::sendNotification);
    sendChangeMessage();
    output.release();

    if (itemId >= 1 && itemId <= numOutputDevices)
        chooseOutput (itemId - 1);
}

void MidiInterfaceClass::selectInput (int)
{
    JUCE_ASSERT_MESSAGE_THREAD

    // The input side is off in this program: there is nothing to select.
}

bool MidiInterfaceClass::isOutputPresent()
{
    QUILLET_ASSERT_NOT_MESSAGE_THREAD;

    return output.isPresent();
}

//==============================================================================
bool MidiInterfaceClass::reopenOutput()
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (! output.hasChoice())
        return false;

    if (output.reopen())
        return true;

    sendChangeMessage();
    return false;
}

void MidiInterfaceClass::closeOutput()
{
    JUCE_ASSERT_MESSAGE_THREAD

    output.release();
    sendChangeMessage();
}

//==============================================================================
void MidiInterfaceClass::resized()
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (useOutput)
        outputSelector->setBounds (0, 20, getWidth(), 30);
}

void MidiInterfaceClass::comboBoxChanged (juce::ComboBox* comboBoxThatHasChanged)
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (comboBoxThatHasChanged != outputSelector)
        return;

    const auto itemId = outputSelector->getSelectedId();

    if (itemId >= 1 && itemId <= numOutputDevices)
    {
        chooseOutput (itemId - 1);
        sendChangeMessage();
    }
    else if (itemId == numOutputDevices + 1)
    {
        output.forget();
        sendChangeMessage();
    }
}

void MidiInterfaceClass::handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message)
{
    QUILLET_ASSERT_NOT_MESSAGE_THREAD;

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

    if (output.isOpen())
    {
        const auto position = outputDevices.indexOf (output.getChosenDevice());

        if (position >= 0)
        {
            itemId = position + 1;
        }
        else
        {
            output.releaseAsGone();
            sendChangeMessage();
        }
    }

    outputSelector->setSelectedId (itemId, juce::dontSendNotification);
}

/** The name is kept as the selector shows it, for the status line. */
void MidiInterfaceClass::chooseOutput (int position)
{
    output.choose (outputDevices[position], outputDeviceNames[position]);
}
