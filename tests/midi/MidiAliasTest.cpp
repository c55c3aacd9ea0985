#include "FreshProcess.h"

#include "core/TrAutoDelete.h"
#include "core/TrException.h"
#include "core/TrIniFile.h"
#include "midi/MidiAlias.h"
#include "midi/MidiAliasPortLookup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <strings.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace Tr;

namespace {

// Records which listener was told, in order, into a shared log.
struct LogListener : TMidiAliasChangeListener {
    LogListener(std::vector<std::string>& sharedLog, const char* listenerName)
        : log(sharedLog), name(listenerName)
    {
    }
    void OnMidiAliasListChanged() override
    {
        log.push_back(name);
        if (onCall)
            onCall();
    }
    std::vector<std::string>& log;
    std::string name;
    std::function<void()> onCall;
};

// Stands in for the MIDI manager's port lists.
struct FakePorts : TMidiAliasPortLookup {
    std::vector<std::string> outs, ins, inUse;
    std::vector<TMidiDeviceListListener*> listeners;
    int removals = 0;

    int GetPortCount(unsigned char isInput) override { return int((isInput ? ins : outs).size()); }
    bool GetPortName(int i, unsigned char isInput, std::string& name) override
    {
        name = (isInput ? ins : outs).at(static_cast<std::size_t>(i));
        return true;
    }
    bool IsPortOpenOrPending(const std::string& name, unsigned char) override
    {
        for (const std::string& n : inUse)
            if (strcasecmp(n.c_str(), name.c_str()) == 0)
                return true;
        return false;
    }
    void AddDevListChangeListener(TMidiDeviceListListener* l) override { listeners.push_back(l); }
    void RemoveDevListChangeListener(TMidiDeviceListListener*) override { ++removals; }
};

std::string TempIniPath(const char* tag)
{
    return testing::TempDir() + "alias_" + tag + "_" + std::to_string(getpid()) + ".ini";
}

TMidiAliasManager* M()
{
    return TMidiAliasManager::instance();
}

} // namespace

TEST(MidiAlias, NamesTypesAndIniEntries)
{
    EXPECT_TRUE(IsLegalMidiAliasName("Out 1"));
    EXPECT_FALSE(IsLegalMidiAliasName(""));
    EXPECT_FALSE(IsLegalMidiAliasName("a\"b"));
    EXPECT_EQ(GetAliasTypeDisplayString(aliasMidiOut), "MIDI OUT");
    EXPECT_EQ(GetAliasTypeDisplayString(aliasSerialPort), "Serial Port");
    EXPECT_EQ(GetAliasTypeDisplayString(static_cast<TAliasType>(4)), "");

    TMidiAlias serial("Port", "port", aliasSerialPort);
    EXPECT_TRUE(serial.IsInputAlias() && serial.IsOutputAlias() && serial.IsDeviceAlias());
    EXPECT_TRUE(serial.SameAs("PORT", aliasSerialPort));
    EXPECT_FALSE(serial.SameAs("PORT", aliasMidiIn));
    EXPECT_EQ(serial.FUserID.load(), -1) << "a new alias is bound to no port entry";
    EXPECT_TRUE(TMidiAlias("", "", aliasNone).IsDeviceAlias());

    TIniFile ini("unused.ini");
    const char* values[] = {"2:", ":x", "4:x", "a:x", "1:A:B"};
    for (int i = 0; i < 5; ++i)
        ini.WriteString("MIDI.alias", "Device" + std::to_string(i), values[i]);
    const struct { TAliasType type; const char* device; } expected[] = {
        {aliasMidiOut, ""}, {aliasNone, ""}, {aliasNone, ""},
        {aliasNone, ""}, {aliasMidiIn, "A:B"}, {aliasNone, ""}};
    for (int i = 0; i < 6; ++i) {
        TMidiAlias a("n", ini, i);
        EXPECT_EQ(a.FType.load(), expected[i].type) << "Device" << i;
        EXPECT_EQ(a.FDevice, expected[i].device) << "Device" << i;
    }
}

TEST(MidiAlias, OddNamesReadBackFromTheIniFileUnchanged)
{
    const std::string path = TempIniPath("odd");
    const std::vector<std::string> names = {" leading blank", "\"quoted\"", "two\nlines\r",
                                            "back\\slash", "plain"};
    {
        TIniFile ini(path);
        int k = 0;
        for (const std::string& name : names)
            TMidiAlias(name, " dev \"" + name, aliasMidiOut).saveToIniFile(ini, k++);
        ini.WriteToFile();
    }
    TIniFile ini(path);
    ini.ReadFromFile();
    EXPECT_EQ(ini.ReadString("MIDI.alias", "Name4", ""), "plain");
    int k = 0;
    for (const std::string& name : names) {
        EXPECT_EQ(ini.ReadString("MIDI.alias", "Name" + std::to_string(k), ""), name);
        TMidiAlias a("x", ini, k++);
        EXPECT_EQ(a.FType.load(), aliasMidiOut);
        EXPECT_EQ(a.FDevice, " dev \"" + name);
    }
    std::remove(path.c_str());
}

TEST(MidiAliasList, ListOperationsAndTextForms)
{
    TMidiAlias a("A", "", aliasMidiOut), b("B,C", "", aliasMidiOut), c("c", "", aliasMidiIn);
    TMidiAliasList list;
    list.Add(&a);
    list.Add(&a);
    list.Add(static_cast<TMidiAlias*>(nullptr));
    list.Add(&b);
    EXPECT_EQ(list.Count(), 2) << "null and duplicates are ignored";
    EXPECT_EQ(list.getCommaSeparatedString(), "A, \"B,C\"");

    TMidiAliasList other;
    other.Add(&c);
    other.Add(&a);
    list.Add(&other);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.GetAlias(2), &c);
    EXPECT_EQ(list.GetAliasByName("C"), &c);
    EXPECT_EQ(list.GetAliasByNameAndType("b,c", aliasMidiOut), &b);
    EXPECT_EQ(list.ExportToString(aliasMidiOut), "MIDA00020001A0003B,C");
    EXPECT_EQ(list.ExportToString(aliasSerialPort), "MIDA0000");

    a.FType = aliasNone;
    b.FType = aliasNone;
    c.FType = aliasNone;
    EXPECT_EQ(list.getCommaSeparatedString(), "") << "removed aliases are left out";
}

TEST(MidiAliasManager, LookupsChangesAndRemoval)
{
    RunInFreshProcess([] {
        std::vector<std::string> log;
        LogListener l(log, "l");
        M()->AddAliasChangeListener(&l);

        TMidiAlias* out = M()->GetAliasByName("Out", aliasMidiOut, true);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(log.size(), 1u) << "creating notifies once";
        EXPECT_EQ(out->FProjectUse, 1);
        EXPECT_EQ(out->FDevice, "");
        EXPECT_EQ(M()->GetAliasByName("OUT", aliasMidiOut, true), out) << "names ignore case";
        EXPECT_EQ(M()->GetAliasByName("out", aliasMidiIn, false), nullptr) << "types must match";
        EXPECT_EQ(log.size(), 1u);

        EXPECT_EQ(M()->AddAlias("out", "Port A", aliasMidiOut), 0);
        EXPECT_EQ(M()->AddAlias("OUT", "PORT a", aliasMidiOut), 0);
        EXPECT_EQ(log.size(), 2u) << "the same device in other letters is no change";
        M()->ModifyAlias("out", aliasMidiOut, "OUT", "Port A");
        EXPECT_EQ(out->FName, "OUT");
        EXPECT_EQ(log.size(), 3u) << "a new letter case is a change";
        M()->ModifyAlias("missing", aliasMidiIn, "In", "Port B");
        M()->AddAlias("Serial", "Port A", aliasSerialPort);
        EXPECT_EQ(M()->GetCount(), 3);
        EXPECT_EQ(log.size(), 5u);

        TMidiAliasList list;
        M()->FillAliasListByDevice("port a", aliasMidiOut, list);
        ASSERT_EQ(list.Count(), 1) << "the serial alias is no MIDI OUT alias";
        EXPECT_EQ(list.GetAlias(0), out);
        M()->FillAliasListByType(aliasMidiIn, list);
        EXPECT_EQ(list.GetAliasByName("in")->FDevice, "Port B");

        M()->RemoveAlias(0);
        M()->RemoveAlias(0);
        M()->RemoveAlias(17);
        EXPECT_EQ(log.size(), 6u) << "only the first removal changes something";
        EXPECT_EQ(out->FType.load(), aliasNone);
        EXPECT_EQ(out->FName, "OUT") << "the removed alias stays readable";
        EXPECT_EQ(M()->GetAlias(0), out);
        EXPECT_EQ(M()->IndexOfByRef(out), 0);
        EXPECT_EQ(M()->GetCountOfValid(), 2);

        TMidiAlias* again = M()->GetAliasByName("Out", aliasMidiOut, true);
        EXPECT_NE(again, out) << "a removed alias is never revived";
        EXPECT_EQ(M()->IndexOfByRef(again), 3);
        M()->RemoveAll();
        M()->RemoveAll();
        EXPECT_EQ(log.size(), 8u) << "RemoveAll of removed aliases tells no one";
    });
}

TEST(MidiAliasManager, UpdateBracketsAndListeners)
{
    RunInFreshProcess([] {
        std::vector<std::string> log;
        LogListener a(log, "a"), b(log, "b"), c(log, "c");
        M()->AddAliasChangeListener(&a);
        M()->AddAliasChangeListener(&b);
        M()->AddAliasChangeListener(&a);
        M()->AddAliasChangeListener(&c);
        M()->RemoveAliasChangeListener(nullptr);

        M()->BeginUpdate();
        M()->BeginUpdate();
        M()->GetAliasByName("x", aliasMidiIn, true);
        M()->AddAlias("y", "p", aliasMidiOut);
        M()->EndUpdate();
        EXPECT_TRUE(log.empty()) << "held back until the outermost EndUpdate";
        M()->EndUpdate();
        EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "c"}));

        log.clear();
        M()->BeginUpdate();
        M()->GetAliasByName("x", aliasMidiIn, true);
        M()->EndUpdate();
        EXPECT_TRUE(log.empty()) << "a bracket without changes tells no one";

        // A listener that unregisters itself and registers again, and one that unregisters the next
        // listener: nobody hears twice, nobody registered at its turn is skipped.
        a.onCall = [&a] {
            M()->RemoveAliasChangeListener(&a);
            M()->AddAliasChangeListener(&a);
        };
        M()->FireAliasChangeEvent();
        EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "c"}));
        log.clear();
        a.onCall = nullptr;
        b.onCall = [&c] { M()->RemoveAliasChangeListener(&c); };
        M()->FireAliasChangeEvent();
        EXPECT_EQ(log, (std::vector<std::string>{"b", "a"}));

        // A listener may look aliases up (and create them) while it is told.
        log.clear();
        b.onCall = [] { M()->GetAliasByName("made in handler", aliasMidiOut, true); };
        M()->FireAliasChangeEvent();
        EXPECT_EQ(log, (std::vector<std::string>{"b", "b", "a", "a"}));

        // The count is not clamped: below zero every change notifies at once.
        log.clear();
        b.onCall = nullptr;
        M()->EndUpdate();
        M()->AddAlias("z", "", aliasMidiIn);
        EXPECT_EQ(log.size(), 2u);
        M()->BeginUpdate();
    });
}

TEST(MidiAliasManager, IniSectionRoundTrip)
{
    const std::string path = TempIniPath("roundtrip");
    RunInFreshProcess([&path] {
        FakePorts ports;
        ports.inUse = {"Synth"};
        TMidiAliasManager::SetPortLookup(&ports);
        TIniFile ini(path);
        for (int k = 0; k < 6; ++k) { // an older, longer section
            ini.WriteString("MIDI.alias", "Name" + std::to_string(k), "old");
            ini.WriteString("MIDI.alias", "Device" + std::to_string(k), "2:old");
        }
        M()->AddAlias("MIDI Output Device", "Synth: Port 1", aliasMidiOut);
        M()->AddAlias("gone", "x", aliasMidiIn);
        M()->AddAlias("Synth", "SYNTH", aliasMidiOut);     // device alias of a port in use
        M()->AddAlias("Drums", "Drums", aliasMidiIn);      // device alias of an idle port
        M()->AddAlias("Keys", "", aliasSerialPort);
        M()->RemoveAlias(1);
        M()->saveToIniFile(ini);
        ini.WriteToFile();
        EXPECT_EQ(ini.ReadString("MIDI.alias", "Device0", ""), "2:Synth: Port 1");
        EXPECT_EQ(ini.ReadString("MIDI.alias", "Name1", ""), "Synth");
        EXPECT_EQ(ini.ReadString("MIDI.alias", "Device2", ""), "3:");
        EXPECT_FALSE(ini.ValueExists("MIDI.alias", "Name3")) << "stale keys are deleted";
        EXPECT_FALSE(ini.ValueExists("MIDI.alias", "Device5"));
        ports.inUse = {"Drums"};
        M()->saveToIniFile(ini);
        EXPECT_EQ(ini.ReadString("MIDI.alias", "Name1", ""), "Drums") << "saved again once in use";
        ports.inUse = {"Synth"};
        M()->saveToIniFile(ini);
        ini.WriteToFile();
        TMidiAliasManager::SetPortLookup(nullptr);
    });
    RunInFreshProcess([&path] {
        std::vector<std::string> log;
        LogListener l(log, "l");
        M()->AddAliasChangeListener(&l);
        TMidiAlias* mine = M()->GetAliasByName("midi output device", aliasMidiOut, true);
        log.clear();
        TIniFile ini(path);
        ini.ReadFromFile();
        M()->loadFromIniFile(ini);
        ASSERT_EQ(M()->GetCount(), 3) << "the stored alias is updated, not added";
        EXPECT_EQ(mine->FName, "MIDI Output Device");
        EXPECT_EQ(mine->FDevice, "Synth: Port 1");
        EXPECT_TRUE(M()->GetAlias(1)->SameAs("Synth", aliasMidiOut));
        EXPECT_EQ(M()->GetAlias(1)->FDevice, "SYNTH");
        EXPECT_EQ(M()->GetAlias(2)->FType.load(), aliasSerialPort);
        EXPECT_EQ(log.size(), 2u) << "the update of the stored alias, then the end of the load";

        TIniFile again(path + ".again");
        M()->saveToIniFile(again);
        EXPECT_EQ(again.ReadString("MIDI.alias", "Name0", ""), "MIDI Output Device");
        EXPECT_EQ(again.ReadString("MIDI.alias", "Name1", ""), "Keys")
            << "without a MIDI manager no port is in use, so the device alias is left out";
    });
    std::remove(path.c_str());
}

TEST(MidiAliasManager, LoadingStopsAtTheFirstGapAndAlwaysNotifies)
{
    RunInFreshProcess([] {
        std::vector<std::string> log;
        LogListener l(log, "l");
        M()->AddAliasChangeListener(&l);
        TIniFile empty("none.ini");
        M()->loadFromIniFile(empty);
        EXPECT_EQ(log.size(), 1u) << "the load notifies even when it read nothing";

        TIniFile ini("none.ini");
        ini.WriteString("MIDI.alias", "Name0", "a");
        ini.WriteString("MIDI.alias", "Device0", "garbage");
        ini.WriteString("MIDI.alias", "Name1", "");
        ini.WriteString("MIDI.alias", "Name2", "c");
        ini.WriteString("MIDI.alias", "Device2", "1:c");
        M()->loadFromIniFile(ini);
        ASSERT_EQ(M()->GetCount(), 1);
        EXPECT_EQ(M()->GetAlias(0)->FType.load(), aliasNone) << "a damaged entry loads as a removed alias";
        TIniFile saved("none.ini");
        M()->saveToIniFile(saved);
        EXPECT_FALSE(saved.ValueExists("MIDI.alias", "Name0")) << "and is not written back";

        M()->FPersistent = 0;
        ini.WriteString("MIDI.alias", "Name0", "b");
        M()->loadFromIniFile(ini);
        EXPECT_EQ(M()->GetCount(), 1) << "not persistent: nothing is read";
    });
}

TEST(MidiAliasList, TextImportRoundTripAndDamagedTexts)
{
    RunInFreshProcess([] {
        TMidiAlias* existing = M()->GetAliasByName("Bb", aliasMidiOut, true);
        existing->FProjectUse = 0;
        TMidiAlias a("A", "", aliasMidiOut), b("bb", "", aliasMidiOut);
        TMidiAliasList source;
        source.Add(&a);
        source.Add(&b);
        const std::string text = "xy" + source.ExportToString(aliasMidiOut) + "tail";

        TMidiAliasList list;
        EXPECT_EQ(list.ImportFromString(text, 2, aliasMidiOut), 8 + 5 + 6);
        ASSERT_EQ(list.Count(), 2);
        EXPECT_EQ(list.GetAlias(1), existing) << "an alias of that name is reused";
        EXPECT_EQ(existing->FProjectUse, 1);
        EXPECT_EQ(list.GetAlias(0)->FName, "A") << "a missing alias is created";
        EXPECT_EQ(M()->GetCount(), 2);

        EXPECT_EQ(list.ImportFromString("MIDA0000", 0, aliasMidiOut), 8);
        EXPECT_EQ(list.Count(), 0);
        list.Add(existing);
        EXPECT_EQ(list.ImportFromString("MIDX0001", 0, aliasMidiOut), 0);
        EXPECT_EQ(list.Count(), 0) << "no mark: nothing read, the list emptied";
        EXPECT_EQ(list.ImportFromString("MIDA", 9, aliasMidiOut), 0) << "a start past the end reads nothing";

        // Damaged texts are refused as a whole: neither the list nor the manager changes.
        std::vector<std::string> log;
        LogListener l(log, "l");
        M()->AddAliasChangeListener(&l);
        list.Add(existing);
        const char* damaged[] = {"MIDA00", "MIDA0001", "MIDA00020001N", "MIDA00020001Nzz01x",
                                 "MIDA00010005abc"};
        for (const char* s : damaged) {
            try {
                list.ImportFromString(s, 0, aliasMidiIn);
                ADD_FAILURE() << "accepted the damaged text " << s;
            } catch (const Exception& e) {
                EXPECT_STREQ(e.what(), "illegal ini format") << s;
            }
            EXPECT_EQ(list.Count(), 1) << s;
            EXPECT_EQ(M()->GetCount(), 2) << s;
        }
        EXPECT_TRUE(log.empty());
    });
}

TEST(MidiAliasManager, DeviceAliasesFollowThePortLists)
{
    FakePorts ports;
    RunInFreshProcess([&ports] {
        ports.outs = {"Synth"};
        ports.ins = {"Synth", "Keys"};
        TMidiAliasManager::SetPortLookup(&ports);
        std::vector<std::string> log;
        LogListener l(log, "l");
        M()->AddAliasChangeListener(&l);
        M()->AddAlias("Keys", "elsewhere", aliasMidiIn);
        log.clear();

        M()->setMaintainDeviceAliases(true);
        EXPECT_TRUE(M()->isMaintainingDeviceAliases());
        EXPECT_EQ(log.size(), 1u) << "one notification for the whole pass";
        ASSERT_EQ(ports.listeners.size(), 1u);
        EXPECT_EQ(M()->GetCount(), 3);
        EXPECT_EQ(M()->GetAliasByName("Keys", aliasMidiIn, false)->FDevice, "Keys");
        EXPECT_TRUE(M()->GetAliasByName("Synth", aliasMidiOut, false)->IsDeviceAlias());

        ports.outs.push_back("Drums");
        ports.listeners[0]->OnMidiDeviceListChanged();
        EXPECT_TRUE(M()->Exists("drums", aliasMidiOut));
        M()->setMaintainDeviceAliases(false);
        ports.outs.push_back("Bass");
        ports.listeners[0]->OnMidiDeviceListChanged();
        EXPECT_FALSE(M()->Exists("Bass", aliasMidiOut)) << "switched off: the handler does nothing";
        M()->setMaintainDeviceAliases(true);
        EXPECT_EQ(ports.listeners.size(), 2u);
        ports.removals = 0;
        VuskSystem::shutdown();
        EXPECT_EQ(ports.removals, 1) << "the destructor unregisters from the MIDI manager";
    });
}

TEST(MidiAliasManagerDeathTest, AskingAfterShutdownIsFatal)
{
    EXPECT_DEATH(
        {
            TMidiAliasManager::instance();
            VuskSystem::shutdown();
            EXPECT_FALSE(TMidiAliasManager::IsInstanceAllocated());
            TMidiAliasManager::instance();
        },
        "MidiAlias\\.cpp:[0-9]+: failed assertion `FALSE'");
    EXPECT_DEATH(TMidiAliasManager::instance()->GetAlias(0), "failed assertion `index<FAlias.Count\\(\\)'");
    EXPECT_DEATH(TMidiAliasList().GetAlias(-1), "failed assertion `index >= 0'");
}
