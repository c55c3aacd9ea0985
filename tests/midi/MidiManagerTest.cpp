// The manager's life, registries and the alias manager's view of its port lists. Run through
// ctest: see ManagerFixture.h.
#include "ManagerFixture.h"

#include "core/TrAutoDelete.h"
#include "core/TrIniFile.h"
#include "core/TrStringList.h"
#include "midi/MidiAlias.h"
#include "midi/MidiUtil.h"

using namespace ManagerTesting;

namespace
{
std::vector<std::string>* initLog = nullptr;

class LoggingInitializer : public Tr::MidiManagerInitializer
{
public:
    explicit LoggingInitializer(std::string who) : FWho(std::move(who)) {}
    ~LoggingInitializer() override { initLog->push_back(FWho + " deleted"); }
    void OnMidiManagerCreated() override
    {
        initLog->push_back(FWho + " created" + (Tr::MidiManager::IsInstanceAllocated() ? "" : " without manager"));
    }
    void OnMidiManagerInited() override { initLog->push_back(FWho + " inited"); }
    void OnMidiManagerToBeDeleted() override { initLog->push_back(FWho + " toBeDeleted"); }

private:
    std::string FWho;
};
} // namespace

TEST_F(ManagerTest, InitializersAreToldOfTheManagersLifeAndOwnedByIt)
{
    std::vector<std::string> events;
    initLog = &events;
    auto* first = new LoggingInitializer("1");
    Tr::MidiManager::AddInitializer(first);
    Tr::MidiManager::AddInitializer(new LoggingInitializer("2"));
    Tr::MidiManager::AddInitializer(first);   // once only
    Tr::MidiManager::AddInitializer(nullptr);
    Start();
    const std::vector<std::string> started = {"1 created", "2 created", "1 inited", "2 inited"};
    EXPECT_EQ(events, started);

    Tr::VuskSystem::shutdown();
    const std::vector<std::string> all = {"1 created",     "2 created", "1 inited", "2 inited", "1 toBeDeleted",
                                          "2 toBeDeleted", "1 deleted", "2 deleted"};
    EXPECT_EQ(events, all);
    EXPECT_EQ(Tr::MidiManagerInitializers, nullptr);
    EXPECT_FALSE(Tr::MidiManager::IsInstanceAllocated());
    initLog = nullptr;
}

TEST_F(ManagerTest, RegistriesHoldEachListenerAndFactoryOnce)
{
    Start();
    LogListener extra(log, "X");
    manager->AddDevListChangeListener(&extra);
    manager->AddDevListChangeListener(&extra);
    manager->RemoveDevListChangeListener(&extra);
    manager->RemoveDevListChangeListener(&extra);   // not registered any more: nothing
    manager->FireDevListChangeEvent();
    EXPECT_EQ(extra.listChanges, 0);
    EXPECT_EQ(listener.listChanges, 1);

    manager->GetDevCount(0);
    const int scans = factory->RecreateCount();
    const int told = listener.listChanges;
    manager->AddFactory(factory, 1);
    manager->AddFactory(factory, 0);
    manager->GetDevCount(0);
    EXPECT_EQ(factory->RecreateCount(), scans) << "a registered factory neither refreshes nor invalidates";
    EXPECT_EQ(listener.listChanges, told);

    auto* later = new TestMidi::TestMidiFactory();
    manager->AddFactory(later, 0);
    EXPECT_EQ(manager->GetFactory(Tr::PortTypeMIDI), later) << "of two back ends of one type, the later one";
    EXPECT_EQ(later->FErrorListener, manager);
    manager->RemoveFactory(later, 0);
    EXPECT_EQ(manager->GetFactory(Tr::PortTypeMIDI), factory);
    EXPECT_EQ(manager->GetFactory(Tr::PortTypeIntM), nullptr);
    EXPECT_EQ(manager->GetFactoryIndex(Tr::PortTypeIntM), -1);
}

TEST_F(ManagerTest, ShutdownClosesOpenPortsSilentlyAndTheManagerCannotReturn)
{
    Start();
    const int synth = factory->AddPort(0, "Synth");
    const int keys = factory->AddPort(1, "Keys");
    manager->SetSuspended(0);
    manager->Open(0, 0, 1);
    manager->Open(0, 1, 1);
    ASSERT_EQ(manager->GetNumberOfOpenedDevices(), 2);
    ASSERT_TRUE(factory->IsOpen(synth));
    ASSERT_TRUE(factory->IsOpen(keys));
    ASSERT_TRUE(Tr::IsMidiDeviceOpen(0, "Synth"));
    log.clear();
    Tr::VuskSystem::shutdown();
    EXPECT_TRUE(log.empty()) << "no listener hears of the closes at shutdown";
    EXPECT_FALSE(Tr::IsMidiDeviceOpen(0, "Synth")) << "the port objects closed themselves";
    EXPECT_FALSE(Tr::IsMidiDeviceOpen(1, "Keys"));
    EXPECT_FALSE(Tr::MidiManager::IsInstanceAllocated());
    EXPECT_FALSE(Tr::TMidiAliasManager::IsInstanceAllocated());
    Tr::MidiManager::CloseAll(1);   // without a manager: nothing

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(Tr::MidiManager::instance(), "failed assertion `FALSE'");
}

TEST_F(ManagerTest, AliasManagerSeesThePortLists)
{
    Start();
    factory->AddPort(0, "Synth");
    factory->AddPort(0, "Drums");
    factory->AddPort(1, "Keys");
    Tr::TMidiAliasManager* aliases = Tr::TMidiAliasManager::instance();
    aliases->setMaintainDeviceAliases(true);
    EXPECT_TRUE(aliases->Exists("Synth", Tr::aliasMidiOut)) << "device aliases for the ports listed";
    EXPECT_TRUE(aliases->Exists("Keys", Tr::aliasMidiIn));

    factory->AddPort(0, "Later");
    manager->SetSuspended(0);   // the refresh tells the alias manager, which adds the new port
    EXPECT_TRUE(aliases->Exists("Later", Tr::aliasMidiOut));

    manager->Open(manager->GetDevIndex("Drums", 0), 0, 1);
    Tr::TIniFile ini("unused.ini");
    aliases->saveToIniFile(ini);
    Tr::TStringList lines;
    ini.ReadSectionEntries("MIDI.alias", lines);
    ASSERT_EQ(lines.Count(), 2) << "only the device alias of the open port is saved";
    EXPECT_EQ(lines[0].FText, "Name0=Drums");
}
