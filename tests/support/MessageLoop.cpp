#include "MessageLoop.h"

namespace MessageLoop
{
    bool runUntil (const std::function<bool()>& condition, int timeoutMs)
    {
        auto* mm = juce::MessageManager::getInstance();
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! condition())
        {
            if (juce::Time::getMillisecondCounter() >= end)
                return condition();

            mm->runDispatchLoopUntil (2);
        }

        return true;
    }

    void runFor (int milliseconds)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
    }
}
