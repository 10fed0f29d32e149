#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <dlfcn.h>

namespace
{
    /** Brings up JUCE's GUI support on the main thread, which thereby becomes the
        message thread for every test in the program. */
    class JuceEnvironment  : public testing::Environment
    {
    public:
        void SetUp() override     { juce = std::make_unique<juce::ScopedJuceInitialiser_GUI>(); }
        void TearDown() override  { juce.reset(); }

    private:
        std::unique_ptr<juce::ScopedJuceInitialiser_GUI> juce;
    };
}

int main (int argc, char** argv)
{
    // JUCE loads the X11 libraries itself and unloads them when it shuts down;
    // what Xlib keeps for its display then has no library left to refer to it,
    // and LeakSanitizer reports it as leaked from an unknown module. Keeping
    // libX11 loaded until the process ends leaves those blocks, which are
    // Xlib's own, reachable to the end.
    dlopen ("libX11.so.6", RTLD_NOW | RTLD_NODELETE);

    // JUCE installs its X error handlers only in a program that registered an
    // application factory; without them Xlib's default handler ends the process
    // at the first harmless error, such as a window-manager atom that a bare
    // Xvfb does not define. The factory is never called here.
    juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; };

    testing::InitGoogleTest (&argc, argv);
    testing::AddGlobalTestEnvironment (new JuceEnvironment());
    return RUN_ALL_TESTS();
}
