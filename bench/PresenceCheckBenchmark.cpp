/*
    presence_check_benchmark (Windows): the cost of the look at the device list
    that the upload makes after every message, MidiInterfaceClass::
    isOutputPresent(), with the last listed output chosen. Built on request:

        cmake --build build/windows --target presence_check_benchmark

    Under Wine, over the stand-in MIDI service, on an X display:

        LD_PRELOAD=build/windows/host/tools/virtual-midi/libvirtual-midi.so \
        VIRTUAL_MIDI_PORTS="Virtual Pedal" WINEPREFIX=$PWD/build/windows/wine-prefix \
            /usr/lib/wine/wine64 build/windows/presence_check_benchmark.exe
*/

#include "midi/MidiDeviceList.h"
#include "midi/MidiInterfaceClass.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

int main()
{
    const juce::ScopedJuceInitialiser_GUI juceInitialiser;
    auto* messageManager = juce::MessageManager::getInstance();

    MidiInterfaceClass midi;
    messageManager->runDispatchLoopUntil (50);
    midi.selectOutput (MidiDeviceList::getOutputs().size());
    messageManager->runDispatchLoopUntil (50);

    if (! midi.isConnected())
    {
        std::printf ("presence_check_benchmark: no output could be opened\n");
        return 1;
    }

    constexpr int numChecks = 2000;
    std::vector<double> checkUs;

    for (int i = 0; i < numChecks; ++i)
    {
        const auto start = std::chrono::steady_clock::now();
        const auto present = midi.isOutputPresent();
        checkUs.push_back (std::chrono::duration<double, std::micro> (std::chrono::steady_clock::now() - start).count());

        if (! present)
        {
            std::printf ("presence_check_benchmark: the chosen output is not listed\n");
            return 1;
        }
    }

    std::sort (checkUs.begin(), checkUs.end());
    const auto at = [&checkUs] (double fraction) { return checkUs[(size_t) (fraction * (double) (checkUs.size() - 1))]; };

    std::printf ("one look at the device list for \"%s\" (%d looks): median %.1f us, 99th percentile %.1f us, max %.1f us\n",
                 midi.getChosenOutputName().toRawUTF8(), numChecks, at (0.5), at (0.99), at (1.0));
    return 0;
}
