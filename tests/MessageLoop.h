#pragma once

#include <juce_events/juce_events.h>

#include <functional>

//==============================================================================
// Running the message loop from a test, boundedly.

/** Runs the message loop in 10 ms steps until the condition holds, at most maxMs. */
inline bool pumpUntil (const std::function<bool()>& condition, int maxMs)
{
    for (int waited = 0; waited < maxMs && ! condition(); waited += 10)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

    return condition();
}

/** Runs the message loop for about ms milliseconds. */
inline void pump (int ms)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (ms);
}

/** Milliseconds since a juce::Time::getHighResolutionTicks() reading. */
inline double millisecondsSince (juce::int64 startTicks)
{
    return juce::Time::highResolutionTicksToSeconds (juce::Time::getHighResolutionTicks() - startTicks) * 1000.0;
}
