#pragma once

#include "midi/SendResult.h"

#include <juce_gui_basics/juce_gui_basics.h>

//==============================================================================
/**
    The abstract device interface: everything the rest of the program may ask of
    a connection to the pedal.

    It is a component (the selector the user picks the device with) and a
    change broadcaster (it announces every change of the chosen device).

    Threads: everything is called on the message thread, except sendBytes()
    and isOutputPresent(), which the upload calls on the protocol thread.
*/
class InterfaceBaseClass  : public juce::Component,
                            public juce::ChangeBroadcaster
{
public:
    ~InterfaceBaseClass() override;

    /** Copies pending received bytes, in arrival order, and returns how many. */
    virtual int readReceivedBytes (juce::uint8* destination, juce::uint32 maximumCount) = 0;

    /** Sends one complete message and returns when it has left, failed, or
        could not be sent within a bound; says which. */
    virtual SendResult sendBytes (const juce::uint8* bytes, int numBytes) = 0;

    /** True when every side the interface uses has an open device. */
    virtual bool isConnected() = 0;

    /** The height the interface wants in its parent's layout. */
    virtual int getPreferredHeight() = 0;

    /** Chooses an output item from code, as if the user had chosen it. */
    virtual void selectOutput (int itemId) = 0;

    /** Chooses an input item from code, as if the user had chosen it. */
    virtual void selectInput (int itemId) = 0;

    /** True while the chosen output is still among the system's devices. */
    virtual bool isOutputPresent() = 0;
};
