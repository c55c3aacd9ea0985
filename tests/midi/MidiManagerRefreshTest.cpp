// Port-list refresh and queries.
#include "ManagerFixture.h"

#include "core/TrException.h"

using namespace ManagerTesting;

TEST_F(ManagerTest, FirstQueryScansEvenWithoutPortsAndUnforcedRefreshOfSameCountsBuildsNoList)
{
    Fresh([&] {
        EXPECT_EQ(listener.listChanges, 0) << "registering the factory only marks the lists invalid";
        LogListener stranger(log, "S");
        manager->AddDevListChangeListener(&listener);
        manager->RemoveDevListChangeListener(&stranger);
        EXPECT_EQ(manager->GetDevCount(0) + manager->GetDevCount(1), 0);
        EXPECT_EQ(listener.listChanges, 1) << "the first query scans and tells the listeners once, even with no ports, "
                                              "a listener registered twice included";
        const int scans = factory->RecreateCount();
        manager->AddFactory(factory, 1);
        EXPECT_FALSE(Rescan(false));
        EXPECT_EQ(factory->RecreateCount(), scans) << "unchanged counts: no port list is built; registering a "
                                                      "registered factory again neither refreshes nor invalidates";
        EXPECT_EQ(listener.listChanges, 1);

        // A port replaced by another of a different name, the count staying the same, goes unnoticed.
        const int a = factory->AddPort(0, "Alpha");
        EXPECT_TRUE(Rescan(false)) << "a new port changes the count";
        factory->RemovePort(a);
        factory->AddPort(0, "Beta");
        EXPECT_FALSE(Rescan(false));
        EXPECT_EQ(manager->GetDevCount(0), 1);
        // A forced refresh sees it.
        EXPECT_TRUE(Rescan(true));
        ASSERT_EQ(manager->GetDevCount(0), 2);
        EXPECT_EQ(State(0, 0), "absent closed");
        EXPECT_EQ(manager->GetExistingDevCount(0), 1);
        EXPECT_EQ(manager->GetDevDescriptor(-1, 0), nullptr);
        EXPECT_EQ(manager->GetDevDescriptor(2, 0), nullptr);
    });
}

TEST_F(ManagerTest, OpenPortsThatRestartElsewhereOrVanishAreReopenedByARefresh)
{
    Fresh([&] {
        const auto [synth, other, keys] = AddPorts({{0, "Synth"}, {0, "Other"}, {1, "Keys"}});
        manager->SetSuspended(0);
        manager->Open(0, 0, 1);
        manager->Open(1, 0, 1);
        manager->Open(0, 1, 1);
        const unsigned char note[3] = {0x90, 60, 100};

        // Both restart within one debounce: the lists stay as they were, so a poll that finds the
        // counts unchanged must still look at the open ports.
        factory->RestartPort(synth);
        factory->RestartPort(keys);
        manager->SendMessageAllDevs(note, 3);
        EXPECT_TRUE(factory->SentTo(synth).empty()) << "the old connection reaches nothing";
        log.clear();
        EXPECT_FALSE(Rescan(false)) << "no list changed";
        EXPECT_EQ(log, (Lines{"L beforeOpen out 0", "L string out 0 Opened MIDI OUT: Synth", "L afterOpen out 0",
                              "L beforeOpen in 0", "L string in 0 Opened MIDI IN: Keys", "L afterOpen in 0"}))
            << "reopened with the notifications; no close is told, as the port never left";
        EXPECT_EQ(factory->CloseCount(synth), 1);
        EXPECT_EQ(factory->CloseCount(other), 0) << "an open port that kept its address is left alone";
        EXPECT_TRUE(factory->IsStarted(keys));
        manager->SendMessageAllDevs(note, 3);
        EXPECT_EQ(factory->SentTo(synth).size(), 1u);
        EXPECT_EQ(factory->SentTo(other).size(), 2u);

        // A forced refresh (after notifications) does the same; one with nothing lost reopens nothing.
        factory->RestartPort(synth);
        EXPECT_TRUE(Rescan(true));
        EXPECT_EQ(factory->OpenCount(synth), 3);
        EXPECT_EQ(State(0, 0), "present open");
        Rescan(true);
        Rescan(false);
        EXPECT_EQ(factory->OpenCount(synth), 3);
        EXPECT_EQ(factory->OpenCount(other), 1);

        // A port that vanishes keeps its entry, closed, and is reopened there when it comes back.
        log.clear();
        factory->RemovePort(other);
        factory->RemovePort(keys);
        EXPECT_TRUE(Rescan(false));
        EXPECT_EQ(manager->GetDevCount(0), 2) << "a vanished port keeps its entry";
        EXPECT_EQ(State(1, 0), "absent closed pending") << "left waiting to reopen";
        EXPECT_FALSE(factory->IsOpen(other) || factory->IsStarted(keys));
        EXPECT_EQ(log, (Lines{"L beforeClose out 1", "L string out 1 Closed MIDI OUT: Other", "L afterClose out 1",
                              "L beforeClose in 0", "L string in 0 Closed MIDI IN: Keys", "L afterClose in 0",
                              "L list"}))
            << "outputs before inputs, then the device-list listeners";
        factory->RestorePort(other);
        factory->RestorePort(keys);
        EXPECT_TRUE(Rescan(false));
        EXPECT_EQ(manager->GetDevIndex("Other", 0), 1) << "the returning port takes its old entry";
        EXPECT_EQ(State(1, 0), "present open");
        EXPECT_TRUE(factory->IsOpen(other) && factory->IsStarted(keys));
    });
}

TEST_F(ManagerTest, PortsMovingInTheSystemListKeepTheirPortObjects)
{
    Fresh([&] {
        const int first = factory->AddPort(0, "Synth", "S1", "Unit");
        const int second = factory->AddPort(0, "Synth", "S2", "Unit");
        const int c = factory->AddPort(0, "C");
        manager->SetSuspended(0);
        ASSERT_EQ(manager->GetDevDescriptor(1, 0)->GetName(), "Synth (2)");
        manager->Open(1, 0, 1);
        manager->Open(2, 0, 1);
        Tr::TMidiDeviceBase* port = manager->GetMidiOutputByIndex(1);

        // The first port goes; the second is now listed without the suffix, under entry 0's name.
        factory->RemovePort(first);
        EXPECT_TRUE(Rescan(false));
        EXPECT_EQ(manager->GetMidiOutputByIndex(0), port) << "the port object moved to the entry of its new name";
        EXPECT_EQ(manager->GetMidiOutputByIndex(1), nullptr);
        EXPECT_EQ(port->UserIndex, 0);
        EXPECT_EQ(State(0, 0), "present open");
        EXPECT_EQ(factory->CloseCount(second), 0) << "the open port moved without being closed";
        EXPECT_TRUE(manager->GetDevDescriptor(1, 0)->GetDescriptor()->FSerial.empty()) << "the entry left behind forgets it";

        // B appears before C in the system order: open ports matched after the change are closed
        // silently and reopened by the entry pass, under their new system index.
        factory->MovePort(factory->AddPort(0, "B"), 1);
        const int closes = factory->CloseCount(c);
        log.clear();
        EXPECT_TRUE(Rescan(false));
        EXPECT_EQ(factory->CloseCount(second), 0) << "open ports before the change keep their port objects";
        EXPECT_EQ(factory->CloseCount(c), closes + 1);
        EXPECT_TRUE(factory->IsOpen(c));
        EXPECT_EQ(log, (Lines{"L beforeOpen out 2", "L string out 2 Opened MIDI OUT: C", "L afterOpen out 2", "L list"}));
    });
}

TEST_F(ManagerTest, ManyPortsKeepTheirEntriesWhenNamesMoveOrChangeCase)
{
    Fresh([&] {
        constexpr int n = 200;
        std::vector<int> ports, twins;
        for (int k = 0; k < n; ++k)
        {
            ports.push_back(factory->AddPort(0, "Unit " + std::to_string(k), "", "unit-" + std::to_string(k)));
            if (k % 10 == 0)
                twins.push_back(factory->AddPort(0, "Unit " + std::to_string(k), "", "twin-" + std::to_string(k)));
        }
        manager->SetSuspended(0);
        ASSERT_EQ(manager->GetDevCount(0), n + n / 10);
        std::vector<Tr::TMidiDeviceBase*> moving;
        for (int k = 0; k < n; k += 10)
        {
            const int twin = manager->GetDevIndex("Unit " + std::to_string(k) + " (2)", 0);
            manager->Open(twin, 0, 1);
            moving.push_back(manager->GetMidiOutputByIndex(twin));
        }
        const int late = manager->GetDevIndex("Unit 155", 0);
        const int renamed = manager->GetDevIndex("Unit 5", 0);
        manager->Open(late, 0, 1);

        // The first of each pair goes, so that its twin is listed under the bare name, and a port
        // changes its letter case.
        for (int k = 0; k < n; k += 10)
            factory->RemovePort(ports[static_cast<std::size_t>(k)]);
        factory->RenamePort(ports[5], "UNIT 5");
        EXPECT_TRUE(Rescan(false));
        EXPECT_EQ(manager->GetDevCount(0), n + n / 10) << "no entry is added";
        for (int k = 0; k < n; k += 10)
        {
            const std::string name = "Unit " + std::to_string(k);
            EXPECT_EQ(manager->GetMidiOutputByIndex(manager->GetDevIndex(name, 0)), moving[static_cast<std::size_t>(k / 10)]) << name;
            EXPECT_EQ(manager->GetMidiOutputByIndex(manager->GetDevIndex(name + " (2)", 0)), nullptr) << name;
        }
        EXPECT_EQ(manager->GetDevIndex("unit 5", 0), renamed);
        EXPECT_EQ(manager->GetDevDescriptor(renamed, 0)->GetName(), "UNIT 5");
        EXPECT_EQ(State(late, 0), "present open") << "closed after the first move and opened again";
        EXPECT_EQ(factory->CloseCount(ports[155]), 1);
    });
}

TEST_F(ManagerTest, NestedRefreshesOnlyAskTheRunningOneToLoopAgain)
{
    Fresh([&] {
        factory->AddPort(0, "Alpha");
        manager->GetDevCount(0);
        manager->Open(0, 0, 1);   // suspended: waits
        LogListener nested(log, "N");
        manager->AddDeviceControlListener(&nested);
        manager->AddDevListChangeListener(&nested);
        // From a control listener inside the entry pass: a port appears and a refresh is asked for.
        int nestedResult = -1;
        nested.onAfterOpen = [&] {
            factory->AddPort(0, "Late");
            manager->ClearFactoryCaches();
            nestedResult = manager->RefreshDevList(1, 0);
        };
        manager->SetSuspended(0);
        EXPECT_EQ(nestedResult, 0) << "the nested refresh returns false at once";
        EXPECT_EQ(manager->GetDevCount(0), 2) << "the running refresh scanned again and found the late port";
        EXPECT_EQ(nested.listChanges, 1) << "the device-list listeners hear once, at the end";

        // From a device-list listener, after the lists were settled: false, and no second round.
        nested.onAfterOpen = nullptr;
        nested.onList = [&] { nestedResult = manager->RefreshDevList(1, 0); };
        EXPECT_TRUE(Rescan(true));
        EXPECT_EQ(nestedResult, 0);
        EXPECT_EQ(nested.listChanges, 2);
        nested.onList = nullptr;
        EXPECT_TRUE(Rescan(true)) << "the next refresh runs normally";
        EXPECT_EQ(nested.listChanges, 3);
        manager->RemoveDeviceControlListener(&nested);
        manager->RemoveDevListChangeListener(&nested);
    });
}

TEST_F(ManagerTest, FailedRefreshOrStaleFactoryCacheDoesNotStopLaterRefreshes)
{
    Fresh([&] {
        LogListener thrower(log, "T");
        thrower.onList = [] { throw Tr::Exception("listener failed"); };
        manager->AddDevListChangeListener(&thrower);
        EXPECT_THROW(manager->RefreshDevList(1, 0), Tr::Exception) << "a listener's exception reaches the caller";
        manager->RemoveDevListChangeListener(&thrower);
        factory->AddPort(1, "Keys");
        EXPECT_TRUE(Rescan(false)) << "the manager does not believe the failed refresh still runs";

        // No clock advance: the factory's cached list still lacks the new port.
        factory->AddPort(1, "Pads");
        EXPECT_TRUE(manager->RefreshDevList(0, 0));
        EXPECT_EQ(manager->GetDevCount(1), 2) << "the new port is seen although the cache was fresh";
        EXPECT_FALSE(Rescan(false)) << "and the stored count agrees with the lists";
    });
}

TEST_F(ManagerTest, PortsOfTwoBackEndsWithOneName)
{
    Fresh([&] {
        auto* other = new TestMidi::TestMidiFactory(Tr::PortTypeVMID);
        other->UseManualClock();
        manager->AddFactory(other, 1);
        auto rescanBoth = [&] {
            other->AdvanceClock(2000);
            Rescan(true);
        };
        auto type = [&](int i) { return manager->GetDevDescriptor(i, 0)->GetDescriptor()->GetType(); };
        factory->AddPort(0, "Shared");
        other->AddPort(0, "Shared");
        rescanBoth();
        rescanBoth();
        ASSERT_EQ(manager->GetDevCount(0), 2) << "a name taken by a present port of another back end gets a "
                                                 "second entry, and keeps it: later scans find it again";
        EXPECT_EQ(type(1), Tr::PortTypeVMID);

        // An absent entry of another back end is taken over instead.
        const int solo = other->AddPort(0, "Solo");
        rescanBoth();
        other->RemovePort(solo);
        rescanBoth();
        ASSERT_EQ(type(2), Tr::PortTypeVMID);
        factory->AddPort(0, "Solo");
        rescanBoth();
        EXPECT_EQ(manager->GetDevCount(0), 3) << "no second entry";
        EXPECT_EQ(State(2, 0), "present closed");
        EXPECT_EQ(type(2), Tr::PortTypeMIDI);

        // Of two back ends of one type the later one serves. Removing a back end leaves its entries
        // in place, absent; without entries nobody is told.
        auto* later = new TestMidi::TestMidiFactory();
        manager->AddFactory(later, 0);
        EXPECT_EQ(manager->GetFactory(Tr::PortTypeMIDI), later);
        EXPECT_EQ(later->FErrorListener, manager);
        const int told = listener.listChanges;
        manager->RemoveFactory(later, 1);
        EXPECT_EQ(listener.listChanges, told);
        EXPECT_EQ(manager->GetFactory(Tr::PortTypeMIDI), factory);
        manager->RemoveFactory(factory, 1);
        EXPECT_EQ(listener.listChanges, told + 1);
        EXPECT_EQ(manager->GetDevCount(0), 3);
        EXPECT_EQ(State(0, 0), "absent closed");
    });
}
