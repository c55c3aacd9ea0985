// Port-list refresh and queries. Run through ctest: see ManagerFixture.h.
#include "ManagerFixture.h"

#include "core/TrException.h"

#include <functional>

using namespace ManagerTesting;
using TestMidi::TestMidiFactory;

namespace
{
class CallbackListener : public Tr::TMidiDeviceListListener, public Tr::MidiManagerDeviceControlListener
{
public:
    void OnMidiDeviceListChanged() override
    {
        ++listChanges;
        if (onList)
            onList();
    }
    void OnAfterOpenMidiDevice(int id, unsigned char isInput) override
    {
        if (onAfterOpen)
            onAfterOpen(id, isInput);
    }
    int listChanges = 0;
    std::function<void()> onList;
    std::function<void(int, unsigned char)> onAfterOpen;
};
} // namespace

TEST_F(ManagerTest, FirstQueryScansEvenWithoutPortsAndUnforcedRefreshOfSameCountsBuildsNoList)
{
    Start();
    EXPECT_EQ(listener.listChanges, 0) << "registering the factory only marks the lists invalid";
    EXPECT_EQ(manager->GetDevCount(0), 0);
    EXPECT_EQ(listener.listChanges, 1) << "the first query scans and tells the listeners, even with no ports";
    EXPECT_EQ(manager->GetDevCount(1), 0);
    EXPECT_EQ(listener.listChanges, 1) << "later queries do not scan again";

    const int scans = factory->RecreateCount();
    Later();
    EXPECT_FALSE(manager->RefreshDevList(0, 0));
    EXPECT_EQ(factory->RecreateCount(), scans) << "unchanged counts: no port list is built";
    EXPECT_EQ(listener.listChanges, 1);

    // A port replaced by another of a different name, the count staying the same, goes unnoticed.
    const int a = factory->AddPort(0, "Alpha");
    EXPECT_TRUE(Rescan(false)) << "a new port changes the count";
    EXPECT_EQ(listener.listChanges, 2);
    factory->RemovePort(a);
    factory->AddPort(0, "Beta");
    EXPECT_FALSE(Rescan(false));
    EXPECT_EQ(manager->GetDevDescriptor(0, 0)->GetName(), "Alpha");
    EXPECT_EQ(manager->GetDevCount(0), 1);

    // A forced refresh sees it, and tells the listeners even when nothing changes.
    EXPECT_TRUE(Rescan(true));
    ASSERT_EQ(manager->GetDevCount(0), 2);
    EXPECT_FALSE(manager->GetDevDescriptor(0, 0)->Exists());
    EXPECT_TRUE(manager->GetDevDescriptor(1, 0)->Exists());
    EXPECT_EQ(manager->GetDevIndex("beta", 0), 1) << "names compare ignoring case";
    const int before = listener.listChanges;
    EXPECT_TRUE(Rescan(true));
    EXPECT_EQ(listener.listChanges, before + 1);

    EXPECT_EQ(manager->GetDevDescriptor(-1, 0), nullptr);
    EXPECT_EQ(manager->GetDevDescriptor(2, 0), nullptr);
    Tr::MidiManagerDev* entry = nullptr;
    EXPECT_TRUE(manager->GetDevDescriptor(1, 0, entry));
    EXPECT_EQ(entry->GetIndex(), 1);
    EXPECT_EQ(manager->GetExistingDevCount(0), 1);
}

TEST_F(ManagerTest, VanishedOpenPortKeepsItsIndexIsClosedAndReopensWhenItComesBack)
{
    Start();
    factory->AddPort(0, "Alpha");
    const int beta = factory->AddPort(0, "Beta");
    const int keys = factory->AddPort(1, "Keys");
    manager->SetSuspended(0);
    ASSERT_EQ(manager->GetDevCount(0), 2);
    manager->Open(1, 0, 1);
    manager->Open(0, 1, 1);
    ASSERT_TRUE(factory->IsOpen(beta));
    ASSERT_TRUE(factory->IsStarted(keys));
    log.clear();

    factory->RemovePort(beta);
    factory->RemovePort(keys);
    EXPECT_TRUE(Rescan(false));
    EXPECT_EQ(manager->GetDevCount(0), 2) << "a vanished port keeps its entry";
    Tr::MidiManagerDev* entry = manager->GetDevDescriptor(1, 0);
    EXPECT_FALSE(entry->Exists());
    EXPECT_FALSE(entry->IsOpen());
    EXPECT_TRUE(entry->IsPending()) << "left waiting to reopen";
    EXPECT_FALSE(factory->IsOpen(beta));
    EXPECT_FALSE(factory->IsStarted(keys));
    const std::vector<std::string> closing = {
        "L beforeClose out 1", "L string out 1 Closed MIDI OUT: Beta", "L afterClose out 1",
        "L beforeClose in 0",  "L string in 0 Closed MIDI IN: Keys",   "L afterClose in 0",
        "L list"};
    EXPECT_EQ(log, closing) << "outputs before inputs, then the device-list listeners";
    log.clear();

    factory->RestorePort(beta);
    factory->RestorePort(keys);
    EXPECT_TRUE(Rescan(false));
    EXPECT_EQ(manager->GetDevCount(0), 2);
    EXPECT_EQ(manager->GetDevIndex("Beta", 0), 1) << "the returning port takes its old entry";
    EXPECT_TRUE(entry->Exists());
    EXPECT_TRUE(entry->IsOpen());
    EXPECT_FALSE(entry->IsPending());
    EXPECT_TRUE(factory->IsOpen(beta));
    EXPECT_TRUE(factory->IsStarted(keys));
    const std::vector<std::string> reopening = {
        "L beforeOpen out 1", "L string out 1 Opened MIDI OUT: Beta", "L afterOpen out 1",
        "L beforeOpen in 0",  "L string in 0 Opened MIDI IN: Keys",   "L afterOpen in 0",
        "L list"};
    EXPECT_EQ(log, reopening);

    // Data from the reopened input reaches the manager again.
    EXPECT_EQ(factory->Inject(keys, {0x90, 0x3C, 0x40}), 1);
}

TEST_F(ManagerTest, PortMovingToAnotherEntrysNameTakesItsPortObjectAlong)
{
    Start();
    const int first = factory->AddPort(0, "Synth", "S1", "Unit");
    const int second = factory->AddPort(0, "Synth", "S2", "Unit");
    manager->SetSuspended(0);
    ASSERT_EQ(manager->GetDevCount(0), 2);
    ASSERT_EQ(manager->GetDevDescriptor(1, 0)->GetName(), "Synth (2)");
    manager->Open(1, 0, 1);
    Tr::TMidiDeviceBase* port = manager->GetMidiOutputByIndex(1);
    ASSERT_NE(port, nullptr);
    log.clear();

    // The first port goes; the second is now listed without the duplicate suffix, under the name
    // of entry 0.
    factory->RemovePort(first);
    EXPECT_TRUE(Rescan(false));
    EXPECT_EQ(manager->GetMidiOutputByIndex(0), port) << "the port object moved to the entry of its new name";
    EXPECT_EQ(manager->GetMidiOutputByIndex(1), nullptr);
    EXPECT_EQ(port->UserIndex, 0);
    EXPECT_TRUE(manager->GetDevDescriptor(0, 0)->IsOpen());
    EXPECT_FALSE(manager->GetDevDescriptor(1, 0)->Exists());
    EXPECT_TRUE(manager->GetDevDescriptor(1, 0)->GetDescriptor()->FSerial.empty());
    EXPECT_EQ(factory->CloseCount(second), 0) << "the open port moved without being closed";
    unsigned char msg[] = {0xF8};
    EXPECT_TRUE(manager->SendMessageAllDevs(msg, 1));
    EXPECT_EQ(factory->SentTo(second).size(), 1u);
}

TEST_F(ManagerTest, AfterAChangeInAScanLaterOpenPortsAreReopenedEarlierOnesKept)
{
    Start();
    const int a = factory->AddPort(0, "A");
    const int c = factory->AddPort(0, "C");
    manager->SetSuspended(0);
    manager->GetDevCount(0);
    manager->Open(0, 0, 1);
    manager->Open(1, 0, 1);
    // B appears between A and C in the system order: A is matched before the change, C after.
    const int b = factory->AddPort(0, "B");
    factory->MovePort(b, 1);
    log.clear();
    EXPECT_TRUE(Rescan(false));
    EXPECT_EQ(factory->CloseCount(a), 0) << "open ports before the change keep their port objects untouched";
    EXPECT_EQ(factory->CloseCount(c), 1) << "open ports after it are closed silently ...";
    EXPECT_TRUE(factory->IsOpen(c)) << "... and reopened by the entry pass";
    const std::vector<std::string> expected = {"L beforeOpen out 1", "L string out 1 Opened MIDI OUT: C",
                                               "L afterOpen out 1", "L list"};
    EXPECT_EQ(log, expected);
}

TEST_F(ManagerTest, NestedRefreshesOnlyAskTheRunningOneToLoopAgain)
{
    Start();
    const int alpha = factory->AddPort(0, "Alpha");
    (void)alpha;
    manager->GetDevCount(0);
    manager->Open(0, 0, 1);   // suspended: waits
    CallbackListener nested;
    manager->AddDeviceControlListener(&nested);
    manager->AddDevListChangeListener(&nested);

    // From a control listener inside the entry pass: a port appears and a refresh is asked for.
    int nestedResult = -1;
    nested.onAfterOpen = [&](int, unsigned char) {
        factory->AddPort(0, "Late");
        manager->ClearFactoryCaches();
        nestedResult = manager->RefreshDevList(1, 0) ? 1 : 0;
    };
    manager->SetSuspended(0);
    EXPECT_EQ(nestedResult, 0) << "the nested refresh returns false at once";
    EXPECT_EQ(manager->GetDevCount(0), 2) << "the running refresh scanned again and found the late port";
    EXPECT_EQ(nested.listChanges, 1) << "the device-list listeners hear once, at the end";
    nested.onAfterOpen = nullptr;

    // From a device-list listener, after the lists were settled: false, and no second round.
    int listResult = -1;
    nested.onList = [&] { listResult = manager->RefreshDevList(1, 0) ? 1 : 0; };
    EXPECT_TRUE(Rescan(true));
    EXPECT_EQ(listResult, 0);
    EXPECT_EQ(nested.listChanges, 2);
    nested.onList = nullptr;
    EXPECT_TRUE(Rescan(true)) << "the next refresh runs normally";
    EXPECT_EQ(nested.listChanges, 3);

    manager->RemoveDeviceControlListener(&nested);
    manager->RemoveDevListChangeListener(&nested);
}

TEST_F(ManagerTest, ThrowingListenerDoesNotStopLaterRefreshes)
{
    Start();
    CallbackListener thrower;
    thrower.onList = [] { throw Tr::Exception("listener failed"); };
    manager->AddDevListChangeListener(&thrower);
    EXPECT_THROW(manager->RefreshDevList(1, 0), Tr::Exception) << "a listener's exception reaches the caller";
    manager->RemoveDevListChangeListener(&thrower);
    factory->AddPort(0, "Alpha");
    EXPECT_TRUE(Rescan(false)) << "the manager does not believe the failed refresh still runs";
    EXPECT_EQ(manager->GetDevCount(0), 1);
}

TEST_F(ManagerTest, CountChangeRereadsAFactoryListThatIsStillCached)
{
    Start();
    factory->AddPort(1, "Keys");
    EXPECT_EQ(manager->GetDevCount(1), 1);
    // No clock advance: the factory's cached list still lacks the new port.
    factory->AddPort(1, "Pads");
    EXPECT_TRUE(manager->RefreshDevList(0, 0));
    EXPECT_EQ(manager->GetDevCount(1), 2) << "the new port is seen although the cache was fresh";
    Later();
    EXPECT_FALSE(manager->RefreshDevList(0, 0)) << "and the stored count agrees with the lists";
}

TEST_F(ManagerTest, PortsOfTwoBackEndsWithOneName)
{
    Start();
    auto* other = new TestMidiFactory(Tr::PortTypeVMID);
    other->UseManualClock();
    manager->AddFactory(other, 1);
    EXPECT_EQ(manager->GetFactory(Tr::PortTypeVMID), other);
    EXPECT_EQ(manager->GetFactoryIndex(Tr::PortTypeVMID), 1);

    factory->AddPort(0, "Shared");
    other->AddPort(0, "Shared");
    manager->RefreshDevList(1, 0);
    ASSERT_EQ(manager->GetDevCount(0), 2) << "a name taken by a present port of another back end gets a second entry";
    Rescan(true);
    EXPECT_EQ(manager->GetDevCount(0), 2) << "and keeps it: later scans find it again";
    EXPECT_EQ(manager->GetDevDescriptor(0, 0)->GetDescriptor()->GetType(), Tr::PortTypeMIDI);
    EXPECT_EQ(manager->GetDevDescriptor(1, 0)->GetDescriptor()->GetType(), Tr::PortTypeVMID);

    // An absent entry of another back end is taken over instead.
    const int solo = other->AddPort(0, "Solo");
    other->AdvanceClock(2000);
    Rescan(true);
    const int k = manager->GetDevIndex("Solo", 0);
    ASSERT_EQ(manager->GetDevDescriptor(k, 0)->GetDescriptor()->GetType(), Tr::PortTypeVMID);
    other->RemovePort(solo);
    other->AdvanceClock(2000);
    Rescan(true);
    ASSERT_FALSE(manager->GetDevDescriptor(k, 0)->Exists());
    const int count = manager->GetDevCount(0);
    factory->AddPort(0, "Solo");
    Rescan(true);
    EXPECT_EQ(manager->GetDevCount(0), count) << "no second entry";
    EXPECT_TRUE(manager->GetDevDescriptor(k, 0)->Exists());
    EXPECT_EQ(manager->GetDevDescriptor(k, 0)->GetDescriptor()->GetType(), Tr::PortTypeMIDI);

    // Removing a back end leaves its entries in place, absent.
    CallbackListener watcher;
    manager->AddDevListChangeListener(&watcher);
    auto* empty = new TestMidiFactory(Tr::PortTypeIntM);
    manager->AddFactory(empty, 0);
    manager->RemoveFactory(empty, 1);
    EXPECT_EQ(watcher.listChanges, 0) << "a back end without entries: nobody is told";
    const int before = manager->GetDevCount(0);
    watcher.listChanges = 0;
    manager->RemoveFactory(factory, 1);
    EXPECT_EQ(watcher.listChanges, 1);
    EXPECT_EQ(manager->GetDevCount(0), before);
    EXPECT_FALSE(manager->GetDevDescriptor(0, 0)->Exists());
    manager->RemoveDevListChangeListener(&watcher);
}

TEST_F(ManagerTest, SuspendedStateSwitches)
{
    Start();
    const int alpha = factory->AddPort(0, "Alpha");
    EXPECT_TRUE(manager->IsSuspended());
    manager->GetDevCount(0);
    manager->Open(0, 0, 1);
    EXPECT_FALSE(factory->IsOpen(alpha));
    const int changes = listener.listChanges;
    manager->SetSuspended(1);
    EXPECT_EQ(listener.listChanges, changes) << "suspending again does nothing";
    manager->SetSuspended(0);
    EXPECT_TRUE(factory->IsOpen(alpha)) << "ending the suspension opens the waiting port";
    factory->AddPort(0, "Beta");
    Later();
    manager->SetSuspended(0);
    EXPECT_EQ(manager->GetDevCount(0), 1) << "no refresh while already running";
    manager->SetSuspended(1);
    EXPECT_EQ(manager->GetDevCount(0), 1) << "suspending runs no refresh";
}
