#include "midi/OutputConnection.h"
#include "midi/MidiDeviceList.h"
#include "midi/SysexOutputFactory.h"
#include "midi/ThreadChecks.h"

OutputConnection::OutputConnection() = default;

OutputConnection::~OutputConnection()
{
    JUCE_ASSERT_MESSAGE_THREAD
    release();
}

//==============================================================================
bool OutputConnection::choose (const juce::MidiDeviceInfo& device, const juce::String& nameShown)
{
    JUCE_ASSERT_MESSAGE_THREAD

    release();
    chosenDevice = device;
    chosenName = nameShown;

    if (SysexOutputFactory::isLeftBehind (device))
    {
        problem = Problem::leftBehind;
        return false;
    }

    if (! MidiDeviceList::containsOutput (device))
    {
        problem = Problem::notPresent;
        return false;
    }

    std::shared_ptr<SysexOutput> opened = SysexOutputFactory::open (device);

    if (opened == nullptr)
    {
        problem = Problem::openFailed;
        return false;
    }

    problem = Problem::none;

    const juce::ScopedLock sl (outputLock);
    output = std::move (opened);
    return true;
}

bool OutputConnection::reopen()
{
    JUCE_ASSERT_MESSAGE_THREAD

    if (! hasChoice())
        return false;

    // Copied: choose() replaces what it is given.
    const auto device = chosenDevice;
    const auto name = chosenName;
    return choose (device, name);
}

/** The output goes once the last send that uses it has returned, outside the lock. */
void OutputConnection::release()
{
    JUCE_ASSERT_MESSAGE_THREAD

    std::shared_ptr<SysexOutput> released;

    const juce::ScopedLock sl (outputLock);
    released = std::move (output);
}

void OutputConnection::releaseAsGone()
{
    JUCE_ASSERT_MESSAGE_THREAD

    release();
    problem = Problem::notPresent;
}

void OutputConnection::forget()
{
    JUCE_ASSERT_MESSAGE_THREAD

    release();
    chosenDevice = {};
    problem = Problem::none;
}

bool OutputConnection::isOpen() const
{
    return getOutput() != nullptr;
}

//==============================================================================
SendResult OutputConnection::send (const juce::uint8* bytes, int numBytes)
{
    QUILLET_ASSERT_NOT_MESSAGE_THREAD;

    const auto sending = getOutput();

    if (sending == nullptr)
        return { SendResult::Status::notOpen };

    return sending->send (bytes, numBytes);
}

bool OutputConnection::isPresent()
{
    QUILLET_ASSERT_NOT_MESSAGE_THREAD;

    const auto open = getOutput();
    return open != nullptr && open->isPresent();
}

std::shared_ptr<SysexOutput> OutputConnection::getOutput() const
{
    const juce::ScopedLock sl (outputLock);
    return output;
}
