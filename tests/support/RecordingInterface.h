#pragma once

#include "midi/InterfaceBaseClass.h"

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
    It can also hold sends up before they take the message, as when the
    sending thread is preempted inside the send: the send's start is then
    stamped after the hold-up, where a driver would see it.

    Threads: sendBytes() on whichever thread sends (the protocol thread);
    setEnabled() under the message-thread lock; the getters on any thread.
    setSendDuration(), setHandOverDelay() and setSendCallback() before the
    sending starts.
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
    int sendBytes (const juce::uint8* bytes, int numBytes) override;
    bool isConnected() override;
    int getPreferredHeight() override;
    void selectOutput (int itemId) override;
    void selectInput (int itemId) override;

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

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RecordingInterface)
};
