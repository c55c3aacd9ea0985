#include "FreshProcess.h"

#include "core/TempFolder.h"
#include "core/TextHelpers.h"
#include "core/TrIniFile.h"
#include "midi/MidiAlias.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace Tr;

namespace
{
// Records which listener was told, in order, into a shared log.
struct LogListener : TMidiAliasChangeListener
{
    LogListener(Lines& sharedLog, const char* listenerName) : log(sharedLog), name(listenerName) {}
    void OnMidiAliasListChanged() override
    {
        log.push_back(name);
        if (onCall)
            onCall();
    }
    Lines& log;
    std::string name;
    std::function<void()> onCall;
};

TMidiAliasManager* M()
{
    return TMidiAliasManager::instance();
}
} // namespace

TEST(MidiAlias, NamesAndDamagedIniEntries)
{
    EXPECT_FALSE(IsLegalMidiAliasName("") || IsLegalMidiAliasName("a\"b"));
    EXPECT_EQ(GetAliasTypeDisplayString(static_cast<TAliasType>(4)), "") << "no read past the table";
    TMidiAlias serial("Port", "port", aliasSerialPort);
    EXPECT_TRUE(serial.SameAs("PORT", aliasSerialPort)) << "names compare ignoring case";
    EXPECT_FALSE(serial.SameAs("PORT", aliasMidiIn));

    // Damaged "Device" values load as removed aliases; a missing one too.
    TIniFile ini("unused.ini");
    const char* values[] = {"2:", ":x", "4:x", "a:x", "1:A:B"};
    for (int i = 0; i < 5; ++i)
        ini.WriteString("MIDI.alias", "Device" + std::to_string(i), values[i]);
    const TAliasType types[] = {aliasMidiOut, aliasNone, aliasNone, aliasNone, aliasMidiIn, aliasNone};
    for (int i = 0; i < 6; ++i)
    {
        TMidiAlias a("n", ini, i);
        EXPECT_EQ(a.FType.load(), types[i]) << "Device" << i;
        EXPECT_EQ(a.FDevice, i == 4 ? "A:B" : "") << "Device" << i;
    }
}

TEST(MidiAliasList, ListOperationsAndTextForms)
{
    TMidiAlias a("A", "", aliasMidiOut), b("B,C", "", aliasMidiOut), c("c", "", aliasMidiIn);
    TMidiAliasList list, other;
    for (TMidiAlias* x : {&a, &a, static_cast<TMidiAlias*>(nullptr), &b})
        list.Add(x);
    EXPECT_EQ(list.Count(), 2) << "null and duplicates are ignored";
    EXPECT_EQ(list.getCommaSeparatedString(), "A, \"B,C\"");
    other.Add(&c);
    other.Add(&a);
    list.Add(&other);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.GetAliasByName("C"), &c);
    EXPECT_EQ(list.GetAliasByNameAndType("b,c", aliasMidiOut), &b);
    EXPECT_EQ(list.ExportToString(aliasMidiOut), "MIDA00020001A0003B,C");
    EXPECT_EQ(list.ExportToString(aliasSerialPort), "MIDA0000");
    a.FType = b.FType = c.FType = aliasNone;
    EXPECT_EQ(list.getCommaSeparatedString(), "") << "removed aliases are left out";
}

TEST(MidiAliasManager, LookupsChangesRemovalUpdateBracketsAndListeners)
{
    RunInFreshProcess([] {
        Lines log;
        LogListener l(log, "l");
        M()->AddAliasChangeListener(&l);
        TMidiAlias* out = M()->GetAliasByName("Out", aliasMidiOut, true);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(M()->GetAliasByName("out", aliasMidiIn, false), nullptr) << "types must match";
        EXPECT_EQ(log.size(), 1u) << "creating notifies once";
        EXPECT_EQ(M()->AddAlias("out", "Port A", aliasMidiOut), 0);
        EXPECT_EQ(M()->AddAlias("OUT", "PORT a", aliasMidiOut), 0);
        EXPECT_EQ(log.size(), 2u) << "the same device in other letters is no change";
        M()->ModifyAlias("out", aliasMidiOut, "OUT", "Port A");
        EXPECT_EQ(out->FName, "OUT");
        EXPECT_EQ(log.size(), 3u) << "a new letter case is a change";
        M()->ModifyAlias("missing", aliasMidiIn, "In", "Port B");
        M()->AddAlias("Serial", "Port A", aliasSerialPort);
        TMidiAliasList list;
        M()->FillAliasListByDevice("port a", aliasMidiOut, list);
        ASSERT_EQ(list.Count(), 1) << "the serial alias is no MIDI OUT alias";
        EXPECT_EQ(list.GetAlias(0), out);

        // Removal keeps the alias object, so pointers held elsewhere stay valid.
        log.clear();
        M()->RemoveAlias(0);
        M()->RemoveAlias(0);
        M()->RemoveAlias(17);
        EXPECT_EQ(log.size(), 1u) << "only the first removal changes something";
        EXPECT_EQ(out->FType.load(), aliasNone);
        EXPECT_EQ(out->FName, "OUT") << "the removed alias stays readable";
        EXPECT_EQ(M()->IndexOfByRef(out), 0);
        EXPECT_EQ(M()->GetCountOfValid(), 2);
        TMidiAlias* again = M()->GetAliasByName("Out", aliasMidiOut, true);
        EXPECT_NE(again, out) << "a removed alias is never revived";
        EXPECT_EQ(M()->IndexOfByRef(again), 3);
        log.clear();
        M()->RemoveAll();
        M()->RemoveAll();
        EXPECT_EQ(log.size(), 1u) << "RemoveAll of removed aliases tells no one";
        M()->RemoveAliasChangeListener(&l);

        log.clear();
        LogListener a(log, "a"), b(log, "b"), c(log, "c");
        for (LogListener* each : {&a, &b, &a, &c})
            M()->AddAliasChangeListener(each);
        M()->RemoveAliasChangeListener(nullptr);
        M()->BeginUpdate();
        M()->BeginUpdate();
        M()->GetAliasByName("x", aliasMidiIn, true);
        M()->AddAlias("y", "p", aliasMidiOut);
        M()->EndUpdate();
        EXPECT_TRUE(log.empty()) << "held back until the outermost EndUpdate";
        M()->EndUpdate();
        EXPECT_EQ(log, (Lines{"a", "b", "c"})) << "once, first to last";
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
        EXPECT_EQ(log, (Lines{"a", "b", "c"}));
        log.clear();
        a.onCall = nullptr;
        b.onCall = [&c] { M()->RemoveAliasChangeListener(&c); };
        M()->FireAliasChangeEvent();
        EXPECT_EQ(log, (Lines{"b", "a"}));
        // A listener may look aliases up (and create them) while it is told.
        log.clear();
        b.onCall = [] { M()->GetAliasByName("made in handler", aliasMidiOut, true); };
        M()->FireAliasChangeEvent();
        EXPECT_EQ(log, (Lines{"b", "b", "a", "a"}));

        // The count is not clamped: below zero every change notifies at once, and nothing is held back
        // until enough BeginUpdate calls bring it above zero again.
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
    const TempFolder dir;
    const std::string path = dir / "alias.ini";
    RunInFreshProcess([&] {
        TIniFile ini(path);
        for (int k = 0; k < 9; ++k) // an older, longer section
            ini.WriteString("MIDI.alias", "Name" + std::to_string(k), "old");
        M()->AddAlias("MIDI Output Device", "Synth: Port 1", aliasMidiOut);
        M()->AddAlias("gone", "x", aliasMidiIn);
        M()->AddAlias("Synth", "SYNTH", aliasMidiOut);
        M()->AddAlias("Keys", "", aliasSerialPort);
        M()->RemoveAlias(1);
        M()->saveToIniFile(ini);
        EXPECT_EQ(ini.ReadString("MIDI.alias", "Device0", ""), "2:Synth: Port 1");
        EXPECT_EQ(ini.ReadString("MIDI.alias", "Name1", ""), "Keys")
            << "without a MIDI manager no port is in use, so the device alias is left out";
        EXPECT_EQ(ini.ReadString("MIDI.alias", "Device1", ""), "3:");
        EXPECT_FALSE(ini.ValueExists("MIDI.alias", "Name2")) << "stale keys are deleted";
        ini.WriteToFile();
    });
    RunInFreshProcess([&] {
        Lines log;
        LogListener l(log, "l");
        M()->AddAliasChangeListener(&l);
        TMidiAlias* mine = M()->GetAliasByName("midi output device", aliasMidiOut, true);
        log.clear();
        TIniFile ini(path);
        ini.ReadFromFile();
        M()->loadFromIniFile(ini);
        ASSERT_EQ(M()->GetCount(), 2) << "the stored alias is updated, not added";
        EXPECT_EQ(mine->FName, "MIDI Output Device");
        EXPECT_EQ(mine->FDevice, "Synth: Port 1");
        EXPECT_EQ(M()->GetAlias(1)->FType.load(), aliasSerialPort);
        EXPECT_EQ(log.size(), 2u) << "the update of the stored alias, then the end of the load";

        // Loading notifies even when it read nothing; a damaged entry loads as a removed alias and
        // is not written back; loading stops at the first empty name.
        TIniFile damaged("none.ini");
        log.clear();
        M()->loadFromIniFile(damaged);
        EXPECT_EQ(log.size(), 1u);
        damaged.WriteString("MIDI.alias", "Name0", "a");
        damaged.WriteString("MIDI.alias", "Device0", "garbage");
        damaged.WriteString("MIDI.alias", "Name1", "");
        damaged.WriteString("MIDI.alias", "Name2", "c");
        M()->loadFromIniFile(damaged);
        ASSERT_EQ(M()->GetCount(), 3);
        EXPECT_EQ(M()->GetAlias(2)->FType.load(), aliasNone);
        TIniFile again("none.ini");
        M()->saveToIniFile(again);
        EXPECT_TRUE(again.ValueExists("MIDI.alias", "Name1") && !again.ValueExists("MIDI.alias", "Name2"));
        M()->FPersistent = 0;
        M()->loadFromIniFile(ini);
        EXPECT_EQ(M()->GetCount(), 3) << "not persistent: nothing is read";
    });
}

TEST(MidiAliasManager, LoadingManyAliasesFindsThoseStoredAndThoseMadeMeanwhile)
{
    RunInFreshProcess([] {
        constexpr int n = 400;
        TIniFile ini("unused.ini");
        auto write = [&ini](int k, const std::string& name, const std::string& device) {
            ini.WriteString("MIDI.alias", "Name" + std::to_string(k), name);
            ini.WriteString("MIDI.alias", "Device" + std::to_string(k), device);
        };
        for (int k = 0; k < n; ++k)
            write(k, "Alias " + std::to_string(k), "2:Port " + std::to_string(k));
        write(n, "ALIAS 7", "2:Other");
        write(n + 1, "alias 8", "1:In");
        write(n + 2, "Late", "2:Later");
        // The first notice of the load makes the alias that the file names last.
        Lines log;
        LogListener l(log, "l");
        l.onCall = [&log] {
            if (log.size() == 1)
                M()->GetAliasByName("late", aliasMidiOut, true);
        };
        M()->AddAliasChangeListener(&l);
        M()->loadFromIniFile(ini);
        ASSERT_EQ(M()->GetCount(), n + 2);
        EXPECT_EQ(M()->GetAlias(7)->FName, "ALIAS 7") << "the later entry of a name updates the alias";
        EXPECT_EQ(M()->GetAlias(7)->FDevice, "Other");
        EXPECT_EQ(M()->GetAlias(n)->FName, "Late") << "made by the listener, then updated by the load";
        EXPECT_EQ(M()->GetAlias(n)->FDevice, "Later");
        EXPECT_EQ(M()->GetAlias(n + 1)->FType.load(), aliasMidiIn) << "a name of another type is another alias";
        EXPECT_EQ(log.size(), 4u) << "alias 7 changed, the listener's alias, its update, the end of the load";
    });
}

TEST(MidiAliasList, TextImportRoundTripAndDamagedTexts)
{
    RunInFreshProcess([] {
        TMidiAlias* existing = M()->GetAliasByName("Bb", aliasMidiOut, true);
        existing->FProjectUse = 0;
        TMidiAlias a("A", "", aliasMidiOut), b("bb", "", aliasMidiOut);
        TMidiAliasList source, list;
        source.Add(&a);
        source.Add(&b);
        EXPECT_EQ(list.ImportFromString("xy" + source.ExportToString(aliasMidiOut) + "tail", 2, aliasMidiOut), 8 + 5 + 6);
        ASSERT_EQ(list.Count(), 2);
        EXPECT_EQ(list.GetAlias(1), existing) << "an alias of that name is reused";
        EXPECT_EQ(existing->FProjectUse, 1);
        EXPECT_EQ(list.GetAlias(0)->FName, "A") << "a missing alias is created";
        EXPECT_EQ(list.ImportFromString("MIDA0000", 0, aliasMidiOut), 8);
        EXPECT_EQ(list.Count(), 0);
        list.Add(existing);
        EXPECT_EQ(list.ImportFromString("MIDX0001", 0, aliasMidiOut), 0);
        EXPECT_EQ(list.Count(), 0) << "no mark: nothing read, the list emptied";
        EXPECT_EQ(list.ImportFromString("MIDA", 9, aliasMidiOut), 0) << "a start past the end reads nothing";

        // A text cut short after a whole name, or before the first, is read as far as it goes.
        for (const char* s : {"MIDA00", "MIDA0001"})
        {
            list.Add(existing);
            EXPECT_EQ(list.ImportFromString(s, 0, aliasMidiOut), 8) << s;
            EXPECT_EQ(list.Count(), 0) << s;
        }
        EXPECT_EQ(list.ImportFromString("MIDA00020001A", 0, aliasMidiOut), 13);
        ASSERT_EQ(list.Count(), 1);
        EXPECT_EQ(list.GetAlias(0)->FName, "A");
        EXPECT_EQ(M()->GetCount(), 2);

        // Damaged texts are refused as a whole: neither the list nor the manager changes.
        Lines log;
        LogListener l(log, "l");
        M()->AddAliasChangeListener(&l);
        list.Clear();
        list.Add(existing);
        for (const char* s : {"MIDA00020001Nzz01x", "MIDA00010005abc", "MIDA0002000"})
        {
            EXPECT_EQ(ErrorText([&] { list.ImportFromString(s, 0, aliasMidiIn); }), "illegal ini format") << s;
            EXPECT_EQ(list.Count(), 1) << s;
            EXPECT_EQ(M()->GetCount(), 2) << s;
        }
        EXPECT_TRUE(log.empty());
    });
}
