#include "MidiInterfaceFixture.h"
#include "Expected.h"
#include "midi/MidiDeviceList.h"

#include <algorithm>
#include <chrono>

namespace
{
    struct MenuEntry
    {
        bool isSeparator;
        int itemId;
        juce::String text;
    };

    std::vector<MenuEntry> getMenuEntries (juce::ComboBox& box)
    {
        std::vector<MenuEntry> entries;

        for (juce::PopupMenu::MenuItemIterator it (*box.getRootMenu()); it.next();)
        {
            const auto& item = it.getItem();
            entries.push_back ({ item.isSeparator, item.itemID, item.text });
        }

        return entries;
    }

    /** Records the order in which components are deleted, and how many outputs
        were still open at each deletion. */
    struct DeletionRecorder  : public juce::ComponentListener
    {
        void componentBeingDeleted (juce::Component& component) override
        {
            deleted.push_back (&component);
            openConnections.push_back (VirtualMidi::getNumOpenConnections());
        }

        std::vector<juce::Component*> deleted;
        std::vector<int> openConnections;
    };
}

using MidiInterfaceStartUp = MidiInterfaceFixture;
using MidiInterfaceChoice = MidiInterfaceFixture;
using MidiInterfaceDeviceList = MidiInterfaceFixture;
using MidiInterfaceTeardown = MidiInterfaceFixture;
using MidiInterfaceInputSide = MidiInterfaceFixture;

//==============================================================================
TEST_F (MidiInterfaceStartUp, ListsTheOutputsUnderDisconnectedAndBroadcastsOnce)
{
    start ({ "A", "B", "C" });

    const auto entries = getMenuEntries (*selector);
    ASSERT_EQ (entries.size(), 5u);

    EXPECT_FALSE (entries[0].isSeparator);
    EXPECT_EQ (entries[0].itemId, 4);
    EXPECT_EQ (entries[0].text, Expected::text ("selector.disconnected"));
    EXPECT_TRUE (entries[1].isSeparator);

    const char* names[] = { "A", "B", "C" };

    for (int i = 0; i < 3; ++i)
    {
        EXPECT_FALSE (entries[(size_t) i + 2].isSeparator);
        EXPECT_EQ (entries[(size_t) i + 2].itemId, i + 1);
        EXPECT_EQ (entries[(size_t) i + 2].text, names[i]);
    }

    EXPECT_EQ (selector->getSelectedId(), 4);
    EXPECT_EQ (selector->getText(), Expected::text ("selector.disconnected"));
    EXPECT_FALSE (midi->isConnected());
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);
    EXPECT_EQ (changes.count, 1);
}

TEST_F (MidiInterfaceStartUp, WithoutOutputsOffersOnlyDisconnected)
{
    start ({});

    ASSERT_EQ (selector->getNumItems(), 1);
    EXPECT_EQ (selector->getItemId (0), 1);
    EXPECT_EQ (selector->getItemText (0), Expected::text ("selector.disconnected"));
    EXPECT_EQ (selector->getSelectedId(), 1);

    // The separator requested after "(Disconnected)" has no item to follow, and
    // the framework's popup menu never shows a separator at the end of a list.

    EXPECT_FALSE (midi->isConnected());
    EXPECT_EQ (changes.count, 1);
}

TEST_F (MidiInterfaceStartUp, NumbersDuplicateNamesLikeTheFrameworkList)
{
    start ({ "Pedal", "Synth", "pedal" });

    ASSERT_EQ (selector->getNumItems(), 4);
    EXPECT_EQ (selector->getItemText (1), "Pedal (1)");
    EXPECT_EQ (selector->getItemText (2), "Synth");
    EXPECT_EQ (selector->getItemText (3), "pedal (2)");
}

// A USB device's product string is UTF-8, and so are the names the system
// gives its ports; the device opens under the identifier it is listed with.
TEST_F (MidiInterfaceStartUp, NamesTheOutputsAsTheSystemGivesThem)
{
    const std::string name = "P\xc3\xa9""dale \xe2\x9c\x93 \xe3\x83\x9a\xe3\x83\x80\xe3\x83\xab";
    TestUtilities::makeUsbPedals ({ name });
    start ({ name });

    const auto shown = juce::String::fromUTF8 (name.c_str());
    EXPECT_EQ (shown.length(), 12);
    EXPECT_EQ (selector->getItemText (1), shown);

    choose (1);
    EXPECT_TRUE (midi->isConnected());
    EXPECT_EQ (midi->getChosenOutputName(), shown);
}

TEST_F (MidiInterfaceStartUp, SelectorAndLabelLookAsDesigned)
{
    start ({ "A" });

    EXPECT_TRUE (midi->getName().isEmpty());
    EXPECT_TRUE (selector->isVisible());
    EXPECT_EQ (selector->findColour (juce::ComboBox::buttonColourId), Expected::colour ("colours.selectorButton"));

    for (auto id : { juce::ComboBox::backgroundColourId, juce::ComboBox::textColourId,
                     juce::ComboBox::outlineColourId, juce::ComboBox::arrowColourId,
                     juce::ComboBox::focusedOutlineColourId })
        EXPECT_FALSE (selector->isColourSpecified (id)) << std::hex << id;

    auto* label = findLabel (*midi);
    ASSERT_NE (label, nullptr);
    EXPECT_TRUE (label->getName().isEmpty());
    EXPECT_EQ (label->getText(), Expected::text ("selector.label"));
    EXPECT_EQ (label->getAttachedComponent(), selector);
    EXPECT_FALSE (label->isAttachedOnLeft());
    EXPECT_TRUE (label->isVisible());

    for (auto id : { juce::Label::textColourId, juce::Label::backgroundColourId, juce::Label::outlineColourId })
        EXPECT_FALSE (label->isColourSpecified (id)) << std::hex << id;

    // The selector first, then its label: the order in which they are deleted depends on it.
    ASSERT_EQ (midi->getNumChildComponents(), 2);
    EXPECT_EQ (midi->getChildComponent (0), selector);
    EXPECT_EQ (midi->getChildComponent (1), label);
}

TEST_F (MidiInterfaceStartUp, LaysOutTheSelectorUnderItsLabel)
{
    start ({ "A" });

    // Where the panel places the interface and, inside it, the selector.
    const auto outputs = Expected::area ("panelLayout.outputs");
    const auto box = Expected::area ("panelLayout.selector");
    const auto labelHeight = box.getY() - outputs.getY();

    EXPECT_EQ (midi->getPreferredHeight(), outputs.getHeight());

    midi->setSize (400, midi->getPreferredHeight());

    EXPECT_EQ (selector->getBounds(), juce::Rectangle<int> (0, labelHeight, 400, box.getHeight()));

    auto* label = findLabel (*midi);
    ASSERT_NE (label, nullptr);
    EXPECT_EQ (label->getX(), 0);
    EXPECT_EQ (label->getWidth(), 400);
    EXPECT_EQ (label->getBottom(), labelHeight);
}

//==============================================================================
TEST_F (MidiInterfaceChoice, ADeviceOpensAndEachChoiceBroadcastsOnce)
{
    start ({ "A", "B", "C" });

    choose (2);
    EXPECT_TRUE (midi->isConnected());
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 1);
    EXPECT_EQ (changes.count, 2);

    choose (3);
    EXPECT_TRUE (midi->isConnected());
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 1);
    EXPECT_EQ (changes.count, 3);

    const auto message = TestUtilities::makeSysex (8);
    TestUtilities::offTheMessageThread ([&] { return midi->sendBytes (message.data(), (int) message.size()); });

    const auto events = VirtualMidi::getEvents();
    ASSERT_EQ (events.size(), 1u);
    EXPECT_EQ (events[0].port, "C");
}

TEST_F (MidiInterfaceChoice, ChoosingTheSelectedItemDoesNothing)
{
    start ({ "A", "B", "C" });
    choose (2);
    ASSERT_EQ (changes.count, 2);

    choose (2);

    EXPECT_EQ (changes.count, 2);
    EXPECT_TRUE (midi->isConnected());
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 1);
}

TEST_F (MidiInterfaceChoice, DisconnectedClosesTheOutput)
{
    start ({ "A", "B", "C" });
    choose (2);
    ASSERT_EQ (VirtualMidi::getNumOpenConnections(), 1);

    choose (4);

    EXPECT_FALSE (midi->isConnected());
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);
    EXPECT_EQ (changes.count, 3);
}

TEST_F (MidiInterfaceChoice, ARefusedOpenShowsTheNameButIsNotConnected)
{
    VirtualMidi::setOpenRefused ("B", true);
    start ({ "A", "B", "C" });

    choose (2);

    EXPECT_FALSE (midi->isConnected());
    EXPECT_EQ (selector->getText(), "B");
    EXPECT_EQ (midi->getOutputProblem(), MidiInterfaceClass::OutputProblem::openFailed);
    EXPECT_EQ (midi->getChosenOutputName(), "B");
    EXPECT_EQ (changes.count, 2);
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);

    // Once the device accepts again, opening the list and choosing it opens it:
    // the list no longer shows the device that did not open as chosen.
    VirtualMidi::setOpenRefused ("B", false);
    TestUtilities::openAndCloseList (*selector);
    EXPECT_EQ (selector->getText(), Expected::text ("selector.disconnected"));

    choose (2);
    EXPECT_TRUE (midi->isConnected());
    EXPECT_EQ (midi->getOutputProblem(), MidiInterfaceClass::OutputProblem::none);
}

TEST_F (MidiInterfaceChoice, SelectOutputOpensAtOnceAndBroadcasts)
{
    start ({ "A", "B", "C" });

    midi->selectOutput (2);

    // Open before the message loop has run: the selector's report comes later.
    EXPECT_TRUE (midi->isConnected());
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 1);

    drain();

    EXPECT_EQ (selector->getSelectedId(), 2);
    EXPECT_TRUE (midi->isConnected());
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 1);
    EXPECT_EQ (changes.count, 2);

    // The selection does not change this time, yet the output is replaced and a change broadcast.
    midi->selectOutput (2);
    drain();
    EXPECT_TRUE (midi->isConnected());
    EXPECT_EQ (changes.count, 3);

    midi->selectOutput (4);
    EXPECT_FALSE (midi->isConnected());
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);
    drain();
    EXPECT_EQ (selector->getSelectedId(), 4);
}

TEST_F (MidiInterfaceChoice, SelectOutputAboveDisconnectedClosesTheOutput)
{
    start ({ "A", "B", "C" });
    choose (2);
    ASSERT_TRUE (midi->isConnected());

    midi->selectOutput (7);

    EXPECT_FALSE (midi->isConnected());
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);

    drain();

    EXPECT_FALSE (midi->isConnected());
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);
    EXPECT_EQ (changes.count, 3);
}

//==============================================================================
//==============================================================================
TEST_F (MidiInterfaceDeviceList, AChoiceOpensItsOwnDeviceOrNothingAndOpeningTheSelectorReadsTheListAgain)
{
    start ({ "A", "B", "C" });

    // B is gone; C and a new D took the addresses after A. A choice must open
    // its own device, never whatever is at its position now.
    VirtualMidi::setOutputPorts ({ "A", "C", "D" });

    for (const auto itemId : { 2, 3 })
    {
        choose (itemId);
        EXPECT_FALSE (midi->isConnected()) << itemId;
        EXPECT_EQ (midi->getOutputProblem(), MidiInterfaceClass::OutputProblem::notPresent) << itemId;
        EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0) << itemId;
        EXPECT_FALSE (TestUtilities::offTheMessageThread ([this] { return midi->isOutputPresent(); })) << itemId;
    }

    EXPECT_EQ (midi->getChosenOutputName(), "C");
    const auto message = TestUtilities::makeSysex (8);
    const auto send = [&] { return midi->sendBytes (message.data(), (int) message.size()); };
    EXPECT_EQ (TestUtilities::offTheMessageThread (send).status, SendResult::Status::notOpen);

    choose (1);
    ASSERT_TRUE (midi->isConnected());
    EXPECT_TRUE (TestUtilities::offTheMessageThread ([this] { return midi->isOutputPresent(); }));
    EXPECT_EQ (midi->getOutputProblem(), MidiInterfaceClass::OutputProblem::none);

    // Opening the selector reads the list again, keeping the open A chosen.
    VirtualMidi::setOutputPorts ({ "A", "D" });
    TestUtilities::openAndCloseList (*selector);

    EXPECT_EQ (selector->getNumItems(), 3);
    EXPECT_EQ (selector->getItemText (0), Expected::text ("selector.disconnected"));
    EXPECT_EQ (selector->getItemId (0), 3);
    EXPECT_EQ (selector->getItemText (2), "D");
    EXPECT_EQ (selector->getSelectedId(), 1);
    EXPECT_TRUE (midi->isConnected());

    // A at a new address is not the A that was opened: that one is gone, so
    // it is closed and "(Disconnected)" shows, and choosing A opens the new one.
    VirtualMidi::setOutputPorts ({ "D", "E", "A" });
    TestUtilities::openAndCloseList (*selector);

    EXPECT_FALSE (midi->isConnected());
    EXPECT_EQ (selector->getSelectedId(), 4);
    EXPECT_EQ (midi->getOutputProblem(), MidiInterfaceClass::OutputProblem::notPresent);

    choose (3);
    EXPECT_TRUE (midi->isConnected());
    EXPECT_TRUE (TestUtilities::offTheMessageThread (send).wasSent());
    ASSERT_EQ (VirtualMidi::getEvents().size(), 1u);
    EXPECT_EQ (VirtualMidi::getEvents()[0].port, "A");
}

//==============================================================================
TEST_F (MidiInterfaceTeardown, DeletesLabelThenSelectorThenClosesTheOutput)
{
    start ({ "A", "B" });
    choose (2);
    ASSERT_EQ (VirtualMidi::getNumOpenConnections(), 1);

    auto* label = findLabel (*midi);
    ASSERT_NE (label, nullptr);

    DeletionRecorder recorder;
    label->addComponentListener (&recorder);
    selector->addComponentListener (&recorder);

    midi.reset();

    ASSERT_EQ (recorder.deleted.size(), 2u);
    EXPECT_EQ (recorder.deleted[0], label);
    EXPECT_EQ (recorder.deleted[1], selector);
    EXPECT_EQ (recorder.openConnections, (std::vector<int> { 1, 1 }));
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);
}

TEST_F (MidiInterfaceTeardown, CancelsPendingReportsAndBroadcasts)
{
    VirtualMidi::setOutputPorts ({ "A" });

    {
        MidiInterfaceClass interfaceUnderTest;
        interfaceUnderTest.addChangeListener (&changes);

        // Pending now: the report of the start-up selection, and a broadcast.
        interfaceUnderTest.selectOutput (1);
        EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 1);
    }

    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);
    drain();
    EXPECT_EQ (changes.count, 0);
    EXPECT_EQ (VirtualMidi::getNumOpenConnections(), 0);
}

//==============================================================================
TEST_F (MidiInterfaceInputSide, SelectInputDoesNothing)
{
    start ({ "A" });
    choose (1);
    ASSERT_EQ (changes.count, 2);

    midi->selectInput (1);
    drain();

    EXPECT_EQ (changes.count, 2);
    EXPECT_TRUE (midi->isConnected());
    EXPECT_EQ (selector->getSelectedId(), 1);
}

// The input side is off in this program: no input can be opened, so
// readReceivedBytes() has nothing to read and always returns 0. The ring's
// overwrite rule (300 bytes leave the last 44, exactly 256 leave none) can only
// be observed through an open input; what can be checked here is that the ring
// takes any amount without writing outside itself and that nothing leaks out.
TEST_F (MidiInterfaceInputSide, IncomingBytesStayInsideTheRingAndAreNotReadWithoutAnInput)
{
    start ({ "A" });

    std::vector<juce::uint8> destination (512, 0x55);

    // As the MIDI input thread delivers them.
    const auto receive = [this] (const juce::MidiMessage& message)
    {
        return TestUtilities::offTheMessageThread ([&] { midi->handleIncomingMidiMessage (nullptr, message); return true; });
    };

    for (int i = 0; i < 100; ++i)
        receive (juce::MidiMessage::noteOn (1, i, (juce::uint8) 100));

    EXPECT_EQ (midi->readReceivedBytes (destination.data(), (juce::uint32) destination.size()), 0);

    const auto sysex = TestUtilities::makeSysex (256);
    receive (juce::MidiMessage (sysex.data(), (int) sysex.size()));
    EXPECT_EQ (midi->readReceivedBytes (destination.data(), (juce::uint32) destination.size()), 0);

    const auto longSysex = TestUtilities::makeSysex (4009);
    receive (juce::MidiMessage (longSysex.data(), (int) longSysex.size()));
    EXPECT_EQ (midi->readReceivedBytes (destination.data(), (juce::uint32) destination.size()), 0);

    EXPECT_EQ (std::count (destination.begin(), destination.end(), 0x55), 512);
}
