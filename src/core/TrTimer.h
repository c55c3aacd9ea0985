#pragma once

#include <juce_events/juce_events.h>

#include <string>

namespace Tr
{

// Told on every tick of a timer, on the GUI message thread.
class TTimerListener
{
public:
    virtual void OnTimer() = 0;

protected:
    ~TTimerListener() = default;
};

// A named, repeating millisecond timer, created disabled with a period of 1000 ms. Library code
// holds timers through this class and makes them with CreateTimer.
class TTimer
{
public:
    explicit TTimer(TTimerListener* listener, std::string name = {});
    virtual ~TTimer();
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    virtual unsigned char IsEnabled();
    virtual void SetEnabled(unsigned char enabled) = 0;      // any non-zero value enables
    virtual int GetInterval();
    // A running timer restarts its period from now; a stopped one keeps the period for its next start.
    virtual void SetInterval(int ms);

    TTimerListener* GetOnTimer() const { return FOnTimer; }
    void SetOnTimer(TTimerListener* listener) { FOnTimer = listener; }

protected:
    int FInterval = 1000;
    unsigned char FEnabled = 0;
    TTimerListener* FOnTimer;
    std::string FName;
};

// The timer on the toolkit's timer service: every tick reaches the listener on the message thread.
class JuceTimer : public TTimer, public juce::Timer
{
public:
    explicit JuceTimer(TTimerListener* listener, std::string name = {});

    void SetEnabled(unsigned char enabled) override;
    void timerCallback() override;
};

// Makes a disabled timer with a period of 1000 ms; the caller owns it and deletes it through the
// returned pointer.
TTimer* CreateTimer(TTimerListener* listener, const std::string& name);

} // namespace Tr
