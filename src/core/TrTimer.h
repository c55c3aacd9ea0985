// TEMPORARY STAND-IN until the thread library's TrTimer.h lands on main: the same declarations, with
// inline bodies so that no source file has to go when the real one arrives. On merge take main's
// version of this file.
#pragma once

#include <juce_events/juce_events.h>

#include <string>
#include <utility>

namespace Tr
{

class TTimerListener
{
public:
    virtual void OnTimer() = 0;

protected:
    ~TTimerListener() = default;
};

class TTimer
{
public:
    explicit TTimer(TTimerListener* listener, std::string name = {}) : FOnTimer(listener), FName(std::move(name)) {}
    virtual ~TTimer() = default;
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    virtual unsigned char IsEnabled() { return FEnabled; }
    virtual void SetEnabled(unsigned char enabled) = 0;
    virtual int GetInterval() { return FInterval; }
    virtual void SetInterval(int ms)
    {
        FInterval = ms;
        if (FEnabled)
        {
            SetEnabled(0);
            SetEnabled(1);
        }
    }

    TTimerListener* GetOnTimer() const { return FOnTimer; }
    void SetOnTimer(TTimerListener* listener) { FOnTimer = listener; }

protected:
    int FInterval = 1000;
    unsigned char FEnabled = 0;
    TTimerListener* FOnTimer;
    std::string FName;
};

class JuceTimer : public TTimer, public juce::Timer
{
public:
    explicit JuceTimer(TTimerListener* listener, std::string name = {}) : TTimer(listener, std::move(name)) {}

    void SetEnabled(unsigned char enabled) override
    {
        const unsigned char wanted = enabled ? 1 : 0;
        if (wanted == FEnabled)
            return;
        FEnabled = wanted;
        if (FEnabled)
            startTimer(FInterval);
        else
            stopTimer();
    }
    void timerCallback() override
    {
        if (IsEnabled() && FOnTimer)
            FOnTimer->OnTimer();
    }
};

inline TTimer* CreateTimer(TTimerListener* listener, const std::string& name)
{
    return new JuceTimer(listener, name);
}

} // namespace Tr
