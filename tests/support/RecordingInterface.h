#pragma once

#include "midi/InterfaceBaseClass.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <vector>

//==============================================================================
/**
    A device interface for tests that keeps every message sent through it, with
    the address it was handed over at and the steady-clock times at which the
    send began and returned, and logs every change of its enabled state in the
    same ordered log as the sends.

    It can stand in for a slow driver: each send then blocks for a set time.
    It can fail sends from a given message on, and report its device gone,
    after which every send fails, as it does on a device that has left. Its
    sends report that the device took the message, or, as a back end that
    cannot tell, only that the system did.
    It can also hold sends up before they take the message, as when the
    sending thread is preempted inside the send: the send's start is then
    stamped after the hold-up, where a driver would see it.

    Threads: sendBytes() and isOutputPresent() on whichever thread sends (the
    protocol thread); setEnabled() on the message thread; the getters and
    setPresent() on any thread. setSendDuration(), setHandOverDelay(),
    setSendCallback(), setReportsHandOver(), setConfirmsDelivery() and
    failSendsFrom() before the sending starts.
*/
class RecordingInterface  : public InterfaceBaseClass
{
public:
    using Clock = std::chrono::steady_clock;

    struct Message
    {
        std::vector<juce::uint8> bytes;
        const juce::uint8* source;      // the address handed to sendBytes()
        Clock::time_point sendStart;
        Clock::time_point sendEnd;
    };

    /** One entry of the ordered log: a send, or a change of the enabled state. */
    enum class Event
    {
        send,
        enabled,
        disabled
    };

    RecordingInterface();
    ~RecordingInterface() override;

    //==============================================================================
    int readReceivedBytes (juce::uint8* destination, juce::uint32 maximumCount) override;
    SendResult sendBytes (const juce::uint8* bytes, int numBytes) override;
    bool isConnected() override;
    int getPreferredHeight() override;
    void selectOutput (int itemId) override;
    void selectInput (int itemId) override;
    bool isOutputPresent() override;

    void enablementChanged() override;

    //==============================================================================
    /** Makes each send block this long before it returns. */
    void setSendDuration (std::chrono::microseconds duration);

    /** Makes the first, third, fifth... send wait this long before it takes
        the message; the others take it at once, so the hold-ups do not cancel
        out between neighbours. */
    void setHandOverDelay (std::chrono::microseconds delay);

    /** Called on the sending thread inside each send, with the message's index. */
    void setSendCallback (std::function<void (int messageIndex)> callback);

    /** Makes each send report the moment it took the message as its
        hand-over, as a back end that waits for the message to leave does. */
    void setReportsHandOver (bool shouldReport);

    /** Makes the send of the message with this index, and every later one,
        end with this status, sending nothing. */
    void failSendsFrom (int messageIndex, SendResult::Status status);

    /** Whether sends report the device took the message (true at first) or
        only that the system did. */
    void setConfirmsDelivery (bool shouldConfirm);

    /** What isOutputPresent() answers from now on; true at first. */
    void setPresent (bool isPresent);

    std::vector<Message> getMessages() const;
    int getNumMessages() const;
    std::vector<Event> getEvents() const;

private:
    //==============================================================================
    mutable juce::CriticalSection lock;
    std::vector<Message> messages;
    std::vector<Event> events;
    std::chrono::microseconds sendDuration { 0 };
    std::chrono::microseconds handOverDelay { 0 };
    std::function<void (int)> sendCallback;
    bool reportsHandOver = false;
    bool confirmsDelivery = true;
    int firstFailingSend = -1;
    SendResult::Status failureStatus = SendResult::Status::failed;
    std::atomic<bool> present { true };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RecordingInterface)
};
