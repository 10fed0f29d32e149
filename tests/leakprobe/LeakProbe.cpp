// Leaks one component on purpose. JUCE's leak detector reports it when the
// program ends, and the line it prints must fail the test: the suite registers
// this program as a test that is expected to fail, so a test run in which a
// leaked JUCE object goes unnoticed fails.

#include <juce_gui_basics/juce_gui_basics.h>

#include <iostream>

namespace
{
    class LeakedComponent  : public juce::Component
    {
    public:
        LeakedComponent() = default;

    private:
        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LeakedComponent)
    };

    // Still reachable when the program ends, so LeakSanitizer leaves it alone
    // and only JUCE's detector speaks.
    LeakedComponent* leaked = nullptr;
}

int main()
{
   #if ! JUCE_CHECK_MEMORY_LEAKS
    std::cout << "JUCE's leak detector is not compiled into this build" << std::endl;
   #endif

    leaked = new LeakedComponent();
    std::cout << "leaking one LeakedComponent" << std::endl;
    return 0;
}
