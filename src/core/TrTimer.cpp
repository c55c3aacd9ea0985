#include "TrTimer.h"

#include <utility>

namespace Tr
{

TTimer::TTimer(TTimerListener* listener, std::string name) : FOnTimer(listener), FName(std::move(name))
{
}

TTimer::~TTimer() = default;

unsigned char TTimer::IsEnabled()
{
    return FEnabled;
}

int TTimer::GetInterval()
{
    return FInterval;
}

void TTimer::SetInterval(int ms)
{
    FInterval = ms;
    if (FEnabled)
    {
        SetEnabled(0);
        SetEnabled(1);
    }
}

JuceTimer::JuceTimer(TTimerListener* listener, std::string name) : TTimer(listener, std::move(name))
{
}

void JuceTimer::SetEnabled(unsigned char enabled)
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

void JuceTimer::timerCallback()
{
    if (IsEnabled() && FOnTimer)
        FOnTimer->OnTimer();
}

TTimer* CreateTimer(TTimerListener* listener, const std::string& name)
{
    return new JuceTimer(listener, name);
}

} // namespace Tr
