// The manager's life, registries and the alias manager's view of its port lists.
#include "ManagerFixture.h"

#include "core/TrIniFile.h"
#include "core/TrStringList.h"
#include "midi/MidiAlias.h"
#include "midi/MidiRouter.h"
#include "midi/MidiUtil.h"

using namespace ManagerTesting;

namespace
{
Lines initLog;

struct LoggingInitializer : Tr::MidiManagerInitializer
{
    explicit LoggingInitializer(std::string who) : FWho(std::move(who)) {}
    ~LoggingInitializer() override { initLog.push_back(FWho + " deleted"); }
    void OnMidiManagerCreated() override
    {
        initLog.push_back(FWho + (Tr::MidiManager::IsInstanceAllocated() ? " created" : " created without manager"));
    }
    void OnMidiManagerInited() override { initLog.push_back(FWho + " inited"); }
    void OnMidiManagerToBeDeleted() override { initLog.push_back(FWho + " toBeDeleted"); }
    std::string FWho;
};
} // namespace

TEST_F(ManagerTest, InitializersAreToldAndOwnedAndShutdownClosesPortsSilently)
{
    Fresh(
        [&] {
            EXPECT_EQ(initLog, (Lines{"1 created", "2 created", "1 inited", "2 inited"})) << "each once, in order";
            AddPorts({{0, "Synth"}, {1, "Keys"}});
            manager->SetSuspended(0);
            manager->Open(0, 0, 1);
            manager->Open(0, 1, 1);
            ASSERT_TRUE(Tr::IsMidiDeviceOpen(0, "Synth") && Tr::IsMidiDeviceOpen(1, "Keys"));
            log.clear();
            initLog.clear();
            Tr::VuskSystem::shutdown();
            EXPECT_EQ(initLog, (Lines{"1 toBeDeleted", "2 toBeDeleted", "1 deleted", "2 deleted"}));
            EXPECT_EQ(Tr::MidiManagerInitializers, nullptr);
            EXPECT_TRUE(log.empty()) << "no listener hears of the closes at shutdown";
            EXPECT_FALSE(Tr::IsMidiDeviceOpen(0, "Synth") || Tr::IsMidiDeviceOpen(1, "Keys")) << "the ports were closed";
            EXPECT_FALSE(Tr::TMidiAliasManager::IsInstanceAllocated());
            Tr::MidiManager::CloseAll(1);   // without a manager: nothing
        },
        [] {
            auto* first = new LoggingInitializer("1");
            for (LoggingInitializer* i : {first, new LoggingInitializer("2"), first, static_cast<LoggingInitializer*>(nullptr)})
                Tr::MidiManager::AddInitializer(i);
        });
}

// Each singleton of the MIDI library exists once per process: asking for it after the shutdown is fatal.
TEST(MidiSingletonsDeathTest, AskingAfterShutdownIsFatal)
{
    const std::pair<void (*)(), const char*> singletons[] = {
        {[] { Tr::MidiManager::instance(); }, "failed assertion `FALSE'"},
        {[] { Tr::TMidiAliasManager::instance(); }, "MidiAlias\\.cpp:[0-9]+: failed assertion `FALSE'"},
        {[] { Tr::TMidiRouter::instance(); }, "MidiRouter\\.cpp:[0-9]+: failed assertion `FALSE'"},
    };
    for (const auto& [ask, dies] : singletons)
        EXPECT_DEATH(
            {
                juce::ScopedJuceInitialiser_GUI juceInit;
                TestMidi::ForgetRegisteredBackEnds();
                ask();
                Tr::VuskSystem::shutdown();
                ask();
            },
            dies);
}

TEST_F(ManagerTest, AliasManagerMaintainsDeviceAliasesOfThePorts)
{
    Fresh([&] {
        AddPorts({{0, "Synth"}, {0, "Drums"}, {1, "Keys"}});
        Tr::TMidiAliasManager* aliases = Tr::TMidiAliasManager::instance();
        struct : Tr::TMidiAliasChangeListener
        {
            int calls = 0;
            void OnMidiAliasListChanged() override { ++calls; }
        } aliasListener;
        aliases->AddAlias("Keys", "elsewhere", Tr::aliasMidiIn);
        aliases->AddAliasChangeListener(&aliasListener);
        aliases->setMaintainDeviceAliases(true);
        EXPECT_EQ(aliasListener.calls, 1) << "one notification for the whole pass";
        EXPECT_TRUE(aliases->Exists("Synth", Tr::aliasMidiOut)) << "device aliases for the ports listed";
        EXPECT_EQ(aliases->GetAliasByName("Keys", Tr::aliasMidiIn, false)->FDevice, "Keys");
        factory->AddPort(0, "Later");
        manager->SetSuspended(0);   // the refresh tells the alias manager, which adds the new port
        EXPECT_TRUE(aliases->Exists("Later", Tr::aliasMidiOut));
        aliases->setMaintainDeviceAliases(false);
        factory->AddPort(0, "Bass");
        Rescan(false);
        EXPECT_FALSE(aliases->Exists("Bass", Tr::aliasMidiOut)) << "switched off: the port lists are not followed";

        manager->Open(manager->GetDevIndex("Drums", 0), 0, 1);
        Tr::TIniFile ini("unused.ini");
        aliases->saveToIniFile(ini);
        Tr::TStringList lines;
        ini.ReadSectionEntries("MIDI.alias", lines);
        ASSERT_EQ(lines.Count(), 2) << "only the device alias of the open port is saved";
        EXPECT_EQ(lines[0].FText, "Name0=Drums");
        manager->GetOutDevIndexByName("DRUMS", Tr::PortTypeVMID, 1);
        Tr::TIniFile later("unused.ini");
        aliases->saveToIniFile(later);
        EXPECT_FALSE(later.SectionExists("MIDI.alias")) << "the last entry of a name decides: the idle one made later";
        aliases->RemoveAliasChangeListener(&aliasListener);
    });
}
