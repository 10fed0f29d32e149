#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#if JUCE_WINDOWS

//==============================================================================
/**
    Keeps the program's windows painting where the display never reports a
    vertical blank.

    On Windows the framework holds every repaint of a window until the next
    vertical blank of its display (a DXGI WaitForVBlank that returns). Where that
    wait fails, as under Wine and on some virtual machines and remote sessions,
    a window keeps its first picture: the progress bar never moves. This watches
    the vertical blanks each window receives and, for a window that has had none
    for stallMs, dispatches its pending repaints itself every checkIntervalMs.
    Where vertical blanks arrive, it only reads the clock.

    Create it on the message thread, and delete it there before the windows go.
*/
class RepaintFallback  : private juce::Timer
{
public:
    /** How long a window may go without a vertical blank before it is repainted
        from here: six frames at 60 Hz, three at the 30 Hz of a throttled remote
        session, so a display that delivers them never gets this far even when
        the message thread is busy for a frame or two; and short enough that a
        stalled window answers a click within a fifth of a second. */
    static constexpr juce::uint32 stallMs = 100;

    /** How often the windows are looked at: the repaint rate of a stalled window.
        Ten pictures a second keep a progress bar and a status line moving; each
        paint holds the message thread, and where painting is slow (Wine) more
        of them would leave the window slow to answer. */
    static constexpr int checkIntervalMs = 100;

    RepaintFallback();
    ~RepaintFallback() override;

private:
    //==============================================================================
    struct PeerWatch;

    void timerCallback() override;

    std::vector<std::unique_ptr<PeerWatch>> watches;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RepaintFallback)
};

#endif
