#include "RecordingInterface.h"

#include <thread>

RecordingInterface::RecordingInterface() = default;

RecordingInterface::~RecordingInterface() = default;

//==============================================================================
int RecordingInterface::readReceivedBytes (juce::uint8*, juce::uint32)
{
    return 0;
}

SendResult RecordingInterface::sendBytes (const juce::uint8* bytes, int numBytes)
{
    int index;

    {
        const juce::ScopedLock sl (lock);
        index = static_cast<int> (messages.size());
    }

    if (firstFailingSend >= 0 && index >= firstFailingSend)
        return { failureStatus };

    // A device that has gone takes nothing more, and its back end says so.
    if (! present)
        return { SendResult::Status::failed };

    if (handOverDelay.count() > 0 && index % 2 == 0)
        std::this_thread::sleep_for (handOverDelay);

    Message message { std::vector<juce::uint8> (bytes, bytes + numBytes), bytes, Clock::now(), {} };

    if (sendCallback != nullptr)
        sendCallback (index);

    if (sendDuration.count() > 0)
        std::this_thread::sleep_for (sendDuration);

    message.sendEnd = Clock::now();

    SendResult result (confirmsDelivery ? SendResult::Status::sent : SendResult::Status::handedOver);

    if (reportsHandOver)
        result.handedOverAt = message.sendStart;

    const juce::ScopedLock sl (lock);
    messages.push_back (std::move (message));
    events.push_back (Event::send);
    return result;
}

bool RecordingInterface::isConnected()            { return true; }
int RecordingInterface::getPreferredHeight()      { return 50; }
void RecordingInterface::selectOutput (int)       {}
void RecordingInterface::selectInput (int)        {}

bool RecordingInterface::isOutputPresent()
{
    return present;
}

void RecordingInterface::enablementChanged()
{
    const auto enabled = isEnabled();

    const juce::ScopedLock sl (lock);
    events.push_back (enabled ? Event::enabled : Event::disabled);
}

//==============================================================================
void RecordingInterface::setSendDuration (std::chrono::microseconds duration)
{
    sendDuration = duration;
}

void RecordingInterface::setHandOverDelay (std::chrono::microseconds delay)
{
    handOverDelay = delay;
}

void RecordingInterface::setSendCallback (std::function<void (int)> callback)
{
    sendCallback = std::move (callback);
}

void RecordingInterface::setReportsHandOver (bool shouldReport)
{
    reportsHandOver = shouldReport;
}

void RecordingInterface::failSendsFrom (int messageIndex, SendResult::Status status)
{
    firstFailingSend = messageIndex;
    failureStatus = status;
}

void RecordingInterface::setConfirmsDelivery (bool shouldConfirm)
{
    confirmsDelivery = shouldConfirm;
}

void RecordingInterface::setPresent (bool isPresent)
{
    present = isPresent;
}


std::vector<RecordingInterface::Message> RecordingInterface::getMessages() const
{
    const juce::ScopedLock sl (lock);
    return messages;
}

int RecordingInterface::getNumMessages() const
{
    const juce::ScopedLock sl (lock);
    return static_cast<int> (messages.size());
}

std::vector<RecordingInterface::Event> RecordingInterface::getEvents() const
{
    const juce::ScopedLock sl (lock);
    return events;
}
