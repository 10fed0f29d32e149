#include "app/RepaintFallback.h"

#if JUCE_WINDOWS

//==============================================================================
// The time of the last vertical blank one window received; a listener of that
// window's peer, which calls it on the message thread.
struct RepaintFallback::PeerWatch  : public juce::ComponentPeer::VBlankListener
{
    PeerWatch (juce::ComponentPeer& peerToWatch, juce::uint32 nowMs)
        : peer (&peerToWatch),
          lastVBlankMs (nowMs)
    {
    }

    void onVBlank() override { lastVBlankMs = juce::Time::getMillisecondCounter(); }

    juce::ComponentPeer* peer;
    juce::uint32 lastVBlankMs;
};

//==============================================================================
RepaintFallback::RepaintFallback()
{
    JUCE_ASSERT_MESSAGE_THREAD

    startTimer (checkIntervalMs);
}

RepaintFallback::~RepaintFallback()
{
    JUCE_ASSERT_MESSAGE_THREAD

    stopTimer();

    for (auto& watch : watches)
        if (juce::ComponentPeer::isValidPeer (watch->peer))
            watch->peer->removeVBlankListener (watch.get());
}

void RepaintFallback::timerCallback()
{
    JUCE_ASSERT_MESSAGE_THREAD

    const auto nowMs = juce::Time::getMillisecondCounter();

    // A window that has closed took its listeners with it.
    watches.erase (std::remove_if (watches.begin(),
                                   watches.end(),
                                   [] (const auto& watch) { return ! juce::ComponentPeer::isValidPeer (watch->peer); }),
                   watches.end());

    std::vector<juce::ComponentPeer*> stalled;

    for (int i = 0; i < juce::ComponentPeer::getNumPeers(); ++i)
    {
        auto* peer = juce::ComponentPeer::getPeer (i);

        auto watch = std::find_if (watches.begin(),
                                   watches.end(),
                                   [peer] (const auto& w) { return w->peer == peer; });

        // A new window has as long as any other to show that its vertical blanks arrive.
        if (watch == watches.end())
            watch = watches.insert (watches.end(), std::make_unique<PeerWatch> (*peer, nowMs));

        // Adding is a no-op where the listener is there already, and covers a new
        // window whose peer took the place of one that closed since the last look.
        peer->addVBlankListener (watch->get());

        if (nowMs - (*watch)->lastVBlankMs >= stallMs)
            stalled.push_back (peer);
    }

    // Painting can deliver messages that close a window, so each is checked again.
    for (auto* peer : stalled)
        if (juce::ComponentPeer::isValidPeer (peer))
            peer->performAnyPendingRepaintsNow();
}

#endif
