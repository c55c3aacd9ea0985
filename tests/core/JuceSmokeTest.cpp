#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

TEST(JuceSmoke, MessageLoopRunsWithoutDisplay)
{
    juce::ScopedJuceInitialiser_GUI init;
    int calls = 0;
    juce::MessageManager::callAsync([&calls] { ++calls; });
    juce::MessageManager::getInstance()->runDispatchLoopUntil(50);
    EXPECT_EQ(calls, 1);
}
