#include "core/TrTimer.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <chrono>
#include <memory>

namespace
{

// Runs the message loop until `done` holds or `timeoutMs` has passed; true when it held.
template <typename Pred>
bool PumpUntil(Pred done, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done())
    {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil(10);
    }
    return true;
}

void Pump(int ms)
{
    PumpUntil([] { return false; }, ms);
}

class TickCounter : public Tr::TTimerListener
{
public:
    void OnTimer() override
    {
        ++ticks;
        if (!juce::MessageManager::getInstance()->isThisTheMessageThread())
            ++offThread;
        if (stopOnTick)
            timer->SetEnabled(0);
    }
    int ticks = 0;
    int offThread = 0;
    bool stopOnTick = false;
    Tr::TTimer* timer = nullptr;
};

class TimerTest : public testing::Test
{
protected:
    juce::ScopedJuceInitialiser_GUI FJuce;
    TickCounter FListener;
};

} // namespace

TEST_F(TimerTest, TicksOnTheMessageThreadOnlyWhileEnabled)
{
    std::unique_ptr<Tr::TTimer> timer(Tr::CreateTimer(&FListener, "ticker"));
    EXPECT_FALSE(timer->IsEnabled());
    EXPECT_EQ(timer->GetInterval(), 1000);
    EXPECT_EQ(timer->GetOnTimer(), &FListener);

    timer->SetInterval(50);
    EXPECT_FALSE(timer->IsEnabled()) << "SetInterval started a stopped timer";
    Pump(400);
    EXPECT_EQ(FListener.ticks, 0) << "a timer ticked before it was enabled";

    timer->SetEnabled(1);
    EXPECT_TRUE(PumpUntil([&] { return FListener.ticks >= 3; }, 5000)) << "the timer does not repeat";
    EXPECT_EQ(FListener.offThread, 0) << "ticks came off the message thread";

    timer->SetEnabled(0);
    const int ticks = FListener.ticks;
    Pump(400);
    EXPECT_EQ(FListener.ticks, ticks) << "a disabled timer ticked";

    // A tick with no listener does nothing; setting one later gets the ticks to it.
    timer->SetOnTimer(nullptr);
    timer->SetEnabled(1);
    Pump(300);
    EXPECT_EQ(FListener.ticks, ticks);
    timer->SetOnTimer(&FListener);
    EXPECT_TRUE(PumpUntil([&] { return FListener.ticks > ticks; }, 5000));
}

TEST_F(TimerTest, ListenerThatStopsTheTimerGetsOneTick)
{
    std::unique_ptr<Tr::TTimer> timer(Tr::CreateTimer(&FListener, "one-shot"));
    FListener.timer = timer.get();
    FListener.stopOnTick = true;
    timer->SetInterval(50);
    timer->SetEnabled(1);
    ASSERT_TRUE(PumpUntil([&] { return FListener.ticks == 1; }, 5000));
    Pump(500);
    EXPECT_EQ(FListener.ticks, 1) << "a one-shot timer ticked again";
    EXPECT_FALSE(timer->IsEnabled());
}

TEST_F(TimerTest, SetIntervalRestartsTheRunningPeriodAndSetEnabledDoesNot)
{
    std::unique_ptr<Tr::TTimer> timer(Tr::CreateTimer(&FListener, "debounce"));
    const auto start = std::chrono::steady_clock::now();
    auto sinceStart = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    };

    // Period 1500 ms, restarted at 900 ms: no tick by 1900 ms, though the first period ended at 1500.
    timer->SetInterval(1500);
    timer->SetEnabled(1);
    Pump(900);
    timer->SetInterval(1500);
    Pump(1000);
    if (sinceStart() < 2300) // a stalled machine overran the pump; the check would prove nothing then
    {
        EXPECT_EQ(FListener.ticks, 0) << "SetInterval on a running timer did not restart its period";
    }
    EXPECT_TRUE(PumpUntil([&] { return FListener.ticks == 1; }, 5000));

    // A second SetEnabled(1) leaves the period alone: the tick still comes 1500 ms after the start.
    timer->SetEnabled(0);
    FListener.ticks = 0;
    timer->SetEnabled(1);
    const auto restarted = std::chrono::steady_clock::now();
    Pump(1200);
    timer->SetEnabled(1);
    ASSERT_TRUE(PumpUntil([&] { return FListener.ticks == 1; }, 5000));
    const auto tickedAfter =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - restarted).count();
    EXPECT_LT(tickedAfter, 2200) << "SetEnabled(1) on a running timer restarted its period";
}
