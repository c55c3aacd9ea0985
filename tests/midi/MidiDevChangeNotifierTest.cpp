// Device-change notification: bursts of notifications become one forced refresh. The timers run on
// the JUCE message loop, pumped here; the time bounds are generous. Run through ctest: see
// ManagerFixture.h.
#include "ManagerFixture.h"

#include "midi/MidiDevChangeNotifier.h"

#include <chrono>

using namespace ManagerTesting;
using Clock = std::chrono::steady_clock;

namespace
{
void Pump(int ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end)
        juce::MessageManager::getInstance()->runDispatchLoopUntil(10);
}

template <typename Pred>
bool PumpUntil(Pred done, int timeoutMs)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done())
    {
        if (Clock::now() >= end)
            return false;
        juce::MessageManager::getInstance()->runDispatchLoopUntil(10);
    }
    return true;
}

long long MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

void Notify(Tr::MIDIDevChangeNotifier& notifier, MIDINotificationMessageID id)
{
    const MIDINotification message{id, sizeof(MIDINotification)};
    Tr::Callback(&message, &notifier);
}
} // namespace

TEST_F(ManagerTest, BurstOfNotificationsGivesOneForcedRefreshAfterTheLast)
{
    Start();
    factory->AddPort(0, "Synth");
    manager->GetDevCount(0);
    // The manager's own notifier must stay out of the way: without a notification client it
    // polls, and a poll tells the listeners only of a change anyway.
    manager->StopDetectingMIDIDeviceChanges();
    EXPECT_FALSE(manager->isDetectingMIDIDeviceChanges());
    listener.listChanges = 0;

    Tr::MIDIDevChangeNotifier notifier;
    Notify(notifier, kMIDIMsgObjectAdded);
    for (int i = 0; i < 4; ++i)
    {
        Pump(500);
        EXPECT_EQ(listener.listChanges, 0) << "no refresh while the burst goes on";
        Notify(notifier, i % 2 ? kMIDIMsgObjectAdded : kMIDIMsgObjectRemoved);
    }
    const Clock::time_point last = Clock::now();
    ASSERT_TRUE(PumpUntil([&] { return listener.listChanges > 0; }, 8000)) << "no refresh came";
    const long long waited = MsSince(last);
    EXPECT_GE(waited, 1500) << "the refresh waits about 2000 ms after the last notification";
    EXPECT_LE(waited, 5000);
    EXPECT_EQ(listener.listChanges, 1) << "forced: told although the same ports came back";

    // The debounce timer fires once; other notifications cause no refresh.
    Notify(notifier, kMIDIMsgPropertyChanged);
    Pump(2600);
    EXPECT_EQ(listener.listChanges, 1);
}
