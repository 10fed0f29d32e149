#include "ui/BrenloHelpWindowClass.h"
#include "ui/BrenloHelpWindowContentComp.h"

BrenloHelpWindowClass::BrenloHelpWindowClass()
{
    JUCE_ASSERT_MESSAGE_THREAD

    auto* content = new BrenloHelpWindowContentComp();

    setResizable (true, false);

    // Not resized to fit: the content follows the window, whose size is set
    // from outside.
    setContentOwned (content, false);

    setName ("Firmware Update Help");
}
