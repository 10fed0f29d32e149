#pragma once

#include "midi/MidiInterfaceClass.h"
#include "MessageLoop.h"
#include "TestUtilities.h"
#include "VirtualMidi.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

//==============================================================================
/** Counts the change broadcasts delivered on the message thread. */
struct BroadcastCounter  : public juce::ChangeListener
{
    void changeListenerCallback (juce::ChangeBroadcaster*) override  { ++count; }

    int count = 0;
};

/** The clock of the stand-in service's time stamps (CLOCK_MONOTONIC), in ns. */
inline std::int64_t monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds> (
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

//==============================================================================
/**
    A MidiInterfaceClass over the stand-in MIDI service, driven the way the user
    drives it: through its output selector, with the message loop pumped so that
    the selector's asynchronous report and the change broadcasts arrive.
*/
class MidiInterfaceFixture  : public testing::Test
{
protected:
    void SetUp() override
    {
        VirtualMidi::reset();
    }

    void TearDown() override
    {
        midi.reset();
        VirtualMidi::reset();
    }

    /** Offers these outputs, builds the interface and lets start-up finish. */
    void start (const std::vector<std::string>& outputs)
    {
        VirtualMidi::setOutputPorts (outputs);
        midi = std::make_unique<MidiInterfaceClass>();
        midi->addChangeListener (&changes);
        selector = findSelector (*midi);

        ASSERT_NE (selector, nullptr);
        drain();
    }

    /** Picks an item the way the selector's popup menu does, then lets the
        selector's report and any broadcast arrive. */
    void choose (int itemId)
    {
        selector->setSelectedId (itemId);
        drain();
    }

    static void drain()
    {
        MessageLoop::deliverPending();
    }

    static juce::ComboBox* findSelector (juce::Component& parent)
    {
        for (auto* child : parent.getChildren())
            if (auto* box = dynamic_cast<juce::ComboBox*> (child))
                if (box->getName() == "Output Selector")
                    return box;

        return nullptr;
    }

    static juce::Label* findLabel (juce::Component& parent)
    {
        for (auto* child : parent.getChildren())
            if (auto* label = dynamic_cast<juce::Label*> (child))
                return label;

        return nullptr;
    }

    BroadcastCounter changes;
    std::unique_ptr<MidiInterfaceClass> midi;
    juce::ComboBox* selector = nullptr;
};
