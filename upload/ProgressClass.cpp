#include "upload/ProgressClass.h"

#include <cmath>
#include <utility>

ProgressClass::ProgressClass() = default;

ProgressClass::~ProgressClass() = default;

//==============================================================================
void ProgressClass::setProgress (double fraction)
{
    // nearbyint rounds in the current rounding mode, by default to nearest with
    // ties to even, so 0.125 publishes 0.12 and 0.135 publishes 0.14.
    const auto hundredths = std::nearbyint (fraction * 100.0) / 100.0;

    if (hundredths == progress.load())
        return;

    progress.store (hundredths);

    // JUCE posts the change message only if a listener is registered.
    sendChangeMessage();
}

void ProgressClass::setStatusText (juce::String text)
{
    {
        const juce::SpinLock::ScopedLockType lock (statusTextLock);

        if (text == statusText)
            return;

        // The replaced text goes out with `text`, after the lock is released.
        std::swap (statusText, text);
    }

    sendChangeMessage();
}

juce::String ProgressClass::getStatusText() const
{
    const juce::SpinLock::ScopedLockType lock (statusTextLock);
    return statusText;
}

void ProgressClass::setUploadState (UploadState newState)
{
    if (uploadState.exchange (newState) != newState)
        sendChangeMessage();
}
