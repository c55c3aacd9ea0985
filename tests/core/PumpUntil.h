// Waiting in tests of what the message loop delivers: the loop runs while they wait.
#pragma once

#include "WaitUntil.h"

#include <juce_events/juce_events.h>

// Runs the message loop until `done` holds or `timeoutMs` has passed; true when it held.
template <typename Pred>
bool PumpUntil(Pred done, int timeoutMs)
{
    return WaitUntilWith(done, std::chrono::milliseconds(timeoutMs),
                         [] { juce::MessageManager::getInstance()->runDispatchLoopUntil(10); });
}
