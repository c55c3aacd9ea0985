// Carries one JuceUtils::invokeLater call to the message thread and deletes itself afterwards.
#pragma once

#include <juce_events/juce_events.h>

class Runnable;

class JuceUtilsInternalUpdater : public juce::AsyncUpdater
{
public:
    JuceUtilsInternalUpdater() = default;

    // Stores the work and posts it; the updater must have been made with new, as it deletes
    // itself once the work has run.
    void start(Runnable* runnable, void* data, int code);

    void handleAsyncUpdate() override;

private:
    void* data = nullptr;
    int code = 0;
    Runnable* runnable = nullptr;
};
