#include "MessageLoop.h"

#include <memory>

namespace MessageLoop
{
    bool runUntil (const std::function<bool()>& condition, int timeoutMs)
    {
        auto* mm = juce::MessageManager::getInstance();
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) (timeoutMs * slowdown);

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

    void deliverPending()
    {
        for (int round = 0; round < 3; ++round)
        {
            auto delivered = std::make_shared<bool> (false);
            juce::MessageManager::callAsync ([delivered] { *delivered = true; });
            runUntil ([delivered] { return *delivered; }, 10000);
        }
    }
}
