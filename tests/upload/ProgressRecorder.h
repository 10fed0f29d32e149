#pragma once

#include "upload/ProgressClass.h"

#include <chrono>
#include <functional>
#include <vector>

//==============================================================================
/**
    A change listener that writes down, at each notification from a progress
    source, what a window would show: the published progress and status line,
    plus whatever else the test asks to note at that moment.

    Declare it before the source, so that it outlives the source as the window
    outlives its protocol. Called on the message thread.
*/
class ProgressRecorder  : public juce::ChangeListener
{
public:
    struct Entry
    {
        double progress;
        juce::String status;
        ProgressClass::UploadState state;
        int noted;
        std::chrono::steady_clock::time_point time;
    };

    /** Subscribes to the source. The note, if given, is called at each
        notification; the reaction, if given, after the entry is written. */
    void listenTo (ProgressClass& sourceToUse,
                   std::function<int()> noteToTake = {},
                   std::function<void (const Entry&)> reactionToUse = {})
    {
        source = &sourceToUse;
        note = std::move (noteToTake);
        reaction = std::move (reactionToUse);
        source->addChangeListener (this);
    }

    void changeListenerCallback (juce::ChangeBroadcaster*) override
    {
        entries.push_back ({ source->progress.load(),
                             source->getStatusText(),
                             source->getUploadState(),
                             note != nullptr ? note() : 0,
                             std::chrono::steady_clock::now() });

        if (reaction != nullptr)
            reaction (entries.back());
    }

    /** Index of the first entry from `from` on with this status, or -1. */
    int findStatus (const juce::String& status, size_t from = 0) const
    {
        for (size_t i = from; i < entries.size(); ++i)
            if (entries[i].status == status)
                return static_cast<int> (i);

        return -1;
    }

    /** True once a notification has shown the upload ended, whichever way. */
    bool hasSeenTheEnd() const
    {
        for (const auto& entry : entries)
            if (entry.state != ProgressClass::UploadState::idle && entry.state != ProgressClass::UploadState::uploading)
                return true;

        return false;
    }

    std::vector<Entry> entries;

private:
    ProgressClass* source = nullptr;
    std::function<int()> note;
    std::function<void (const Entry&)> reaction;

    JUCE_LEAK_DETECTOR (ProgressRecorder)
};
