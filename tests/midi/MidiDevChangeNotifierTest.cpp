// Device-change notification: bursts of notifications become one forced refresh. The timers run on
// the JUCE message loop, pumped here; the time bounds are generous.
#include "ManagerFixture.h"

#include "core/PumpUntil.h"
#include "midi/MidiDevChangeNotifier.h"

using namespace ManagerTesting;
using Clock = std::chrono::steady_clock;

namespace
{
void Notify(Tr::MIDIDevChangeNotifier& notifier, MIDINotificationMessageID id)
{
    const MIDINotification message{id, sizeof(MIDINotification)};
    Tr::Callback(&message, &notifier);
}
} // namespace

TEST_F(ManagerTest, BurstsOfNotificationsAndLostNoticesGiveOneForcedRefreshAfterTheLast)
{
    Fresh([&] {
        factory->AddPort(0, "Synth");
        manager->GetDevCount(0);
        // The manager's own notifier must stay out of the way: without a notification client it
        // polls, and a poll tells the listeners only of a change anyway.
        manager->StopDetectingMIDIDeviceChanges();
        listener.listChanges = 0;
        auto refreshes = [&](int n) { return [&, n] { return listener.listChanges >= n; }; };

        Tr::MIDIDevChangeNotifier notifier;
        Notify(notifier, kMIDIMsgObjectAdded);
        for (int i = 0; i < 4; ++i)
        {
            EXPECT_FALSE(PumpUntil(refreshes(1), 500)) << "no refresh while the burst goes on";
            Notify(notifier, i % 2 ? kMIDIMsgObjectAdded : kMIDIMsgObjectRemoved);
        }
        Clock::time_point last = Clock::now();
        ASSERT_TRUE(PumpUntil(refreshes(1), 8000)) << "no refresh came";
        EXPECT_GE(MillisSince(last), 1500) << "the refresh waits about 2000 ms after the last notification";
        EXPECT_LE(MillisSince(last), 5000);
        EXPECT_EQ(listener.listChanges, 1) << "forced: told although the same ports came back";

        // The debounce timer fires once; other notifications cause no refresh.
        Notify(notifier, kMIDIMsgPropertyChanged);
        EXPECT_FALSE(PumpUntil(refreshes(2), 2600));

        // The service's input overflowed: the notices of a burst are lost, and it says so once.
        last = Clock::now();
        Notify(notifier, kMIDIMsgSetupChanged);
        ASSERT_TRUE(PumpUntil(refreshes(2), 8000)) << "no refresh came after the lost notices";
        EXPECT_GE(MillisSince(last), 1500) << "through the same debounce";
        EXPECT_EQ(listener.listChanges, 2) << "forced: told although the same ports are there";
    });
}
