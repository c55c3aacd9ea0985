// The "MIDI.in" and "MIDI.out" ini sections.
#include "ManagerFixture.h"

#include "core/TrIniFile.h"
#include "core/TrStringList.h"

#include <algorithm>

using namespace ManagerTesting;

namespace
{
// The section's key=value lines, sorted unless asked not to: where the ini file puts a rewritten
// key is its own business.
Lines Section(const Tr::TIniFile& ini, const std::string& section, bool sorted = true)
{
    Tr::TStringList lines;
    Lines out;
    if (ini.ReadSectionEntries(section, lines))
        for (int i = 0; i < lines.Count(); ++i)
            out.push_back(lines[i].FText);
    if (sorted)
        std::sort(out.begin(), out.end());
    return out;
}

// Writes Name<k> and Options<k> for each pair; a null options value writes no Options key.
void Write(Tr::TIniFile& ini, const std::string& section, std::vector<std::pair<const char*, const char*>> entries)
{
    for (std::size_t k = 0; k < entries.size(); ++k)
    {
        ini.WriteString(section, "Name" + std::to_string(k), entries[k].first);
        if (entries[k].second != nullptr)
            ini.WriteString(section, "Options" + std::to_string(k), entries[k].second);
    }
}
} // namespace

TEST_F(ManagerTest, SaveWritesOpenAndWaitingPortsAndDropsStaleKeys)
{
    Fresh([&] {
        AddPorts({{0, "B"}, {0, "A"}, {0, "Idle"}, {1, "Keys"}, {1, "Pads"}});
        manager->SetSuspended(0);
        manager->Open(0, 0, 1);
        manager->Open(1, 0, 1);
        manager->Open(1, 1, 1);
        manager->EnableInTimeCode(1, 0);
        manager->GetOutDevIndexByName("Unplugged", Tr::PortTypeMIDI, 1);
        manager->Open(3, 0, 1);   // never present: waits

        Tr::TIniFile ini("unused.ini");
        Write(ini, "MIDI.out", {{"old", "FF4944494D"}, {"old", "FF4944494D"}, {"old", "x"}, {"old", "x"}, {"old", "x"}});
        ini.WriteString("MIDI.out", "Options6", "kept: the deletion stops at the first missing name");
        manager->saveToIniFile(ini);
        EXPECT_EQ(Section(ini, "MIDI.out"),
                  (Lines{"Name0=B", "Name1=A", "Name2=Unplugged", "Options0=FF4944494D", "Options1=FF4944494D",
                         "Options2=FF4944494D", "Options6=kept: the deletion stops at the first missing name"}))
            << "the idle port is not saved; stale keys are deleted";
        EXPECT_EQ(Section(ini, "MIDI.in"), (Lines{"Name0=Pads", "Options0=TFFF4944494D"}));

        manager->FPersistent = 0;
        Tr::TIniFile untouched("unused.ini");
        manager->saveToIniFile(untouched);
        EXPECT_FALSE(untouched.SectionExists("MIDI.out")) << "not persistent: nothing written";
    });
}

TEST_F(ManagerTest, LoadMakesWaitingPlaceholdersThatTheFirstScanMatches)
{
    Fresh([&] {
        const auto [synth, keys] = AddPorts({{0, "Synth"}, {1, "Keys"}});
        Tr::TIniFile ini("unused.ini");
        // The letter case of "synth" differs from the port's.
        Write(ini, "MIDI.out", {{"synth", "FF4944494D"}, {"Unplugged", "FF4944494D"}});
        Write(ini, "MIDI.in", {{"Keys", "TTFF4944494D"}});

        manager->FPersistent = 0;
        manager->loadFromIniFile(ini);
        manager->FPersistent = 1;
        manager->loadFromIniFile(ini);
        EXPECT_EQ(listener.listChanges, 0) << "the load does not scan";
        EXPECT_EQ(manager->GetDevCount(0), 2) << "the first scan matches the placeholders by name";
        EXPECT_EQ(manager->GetDevIndex("Synth", 0), 0);
        Tr::MidiManagerDev* unplugged = manager->GetDevDescriptor(1, 0);
        EXPECT_FALSE(unplugged->Exists());
        EXPECT_TRUE(unplugged->IsPending());
        EXPECT_TRUE(static_cast<Tr::MMDevIn*>(manager->GetDevDescriptor(0, 1))->IsTimingClockEnabled());
        manager->loadFromIniFile(ini);
        EXPECT_EQ(manager->GetDevCount(0), 2) << "loading again finds the same entries";

        manager->SetSuspended(0);
        EXPECT_TRUE(factory->IsOpen(synth)) << "ending the suspension opens the saved ports that are present";
        EXPECT_TRUE(factory->IsStarted(keys));

        // Written back as it was read, the absent port included, under the port's own display name.
        Tr::TIniFile saved("unused.ini");
        manager->saveToIniFile(saved);
        EXPECT_EQ(Section(saved, "MIDI.out"),
                  (Lines{"Name0=Synth", "Name1=Unplugged", "Options0=FF4944494D", "Options1=FF4944494D"}));
        EXPECT_EQ(Section(saved, "MIDI.in"), Section(ini, "MIDI.in"));

        manager->FPersistent = 0;
        Write(saved, "MIDI.out", {{"Extra", "FF4944494D"}});
        manager->loadFromIniFile(saved);
        EXPECT_EQ(manager->GetDevCount(0), 2) << "not persistent: nothing is read";
    });
}

TEST_F(ManagerTest, LoadReadsTypeCodesAndSkipsDamagedEntries)
{
    Fresh([&] {
        Tr::TIniFile ini("unused.ini");
        Write(ini, "MIDI.out", {{"X", "FF4944494D"}, {"V", "T"}, {"I", "FT"}, {"", "FF4944494D"},
                                {"Bad", "FFZZ44494D"}, {"NoOptions", nullptr}});
        ini.WriteString("MIDI.out", "Name7", "AfterGap");   // beyond the first gap: not read
        // The back ends named by the options must be registered for their entries to carry the type.
        manager->AddFactory(new TestMidi::TestMidiFactory(Tr::PortTypeVMID), 0);
        manager->AddFactory(new TestMidi::TestMidiFactory(Tr::PortTypeIntM), 0);
        manager->loadFromIniFile(ini);

        ASSERT_EQ(manager->GetDevCount(0), 5) << "the nameless entry is skipped";
        auto type = [&](int i) { return manager->GetDevDescriptor(i, 0)->GetDescriptor()->GetType(); };
        EXPECT_EQ(type(0), Tr::PortTypeMIDI);
        EXPECT_EQ(type(1), Tr::PortTypeVMID) << "options T";
        EXPECT_EQ(type(2), Tr::PortTypeIntM) << "options FT";
        EXPECT_EQ(manager->GetDevDescriptor(3, 0)->GetName(), "Bad");
        EXPECT_EQ(type(3), 0u) << "type digits that are not hexadecimal name no back end";
        EXPECT_EQ(type(4), Tr::PortTypeMIDI) << "missing options mean the system back end";
        for (int i = 0; i < 5; ++i)
            EXPECT_TRUE(manager->GetDevDescriptor(i, 0)->IsPending() && !manager->GetDevDescriptor(i, 0)->Exists()) << i;

        // Options TT also mean the second extra back end; an entry found or made keeps its own flags.
        Tr::TIniFile more("unused.ini");
        Write(more, "MIDI.out", {{"Both", "TT"}});
        Write(more, "MIDI.in", {{"Half", "F"}, {"Off", "FFFF4944494D"}});
        manager->loadFromIniFile(more);
        EXPECT_EQ(type(5), Tr::PortTypeIntM);
        for (int i = 0; i < 2; ++i)
        {
            auto* input = static_cast<Tr::MMDevIn*>(manager->GetDevDescriptor(i, 1));
            EXPECT_TRUE(input->IsActiveSensingEnabled() && input->IsTimingClockEnabled()) << i;
            EXPECT_EQ(input->GetDescriptor()->GetType(), Tr::PortTypeMIDI);
        }
    });
}

TEST_F(ManagerTest, ManySavedPortsLoadAndSaveInTheirOrder)
{
    Fresh([&] {
        constexpr int n = 500;
        Tr::TIniFile ini("unused.ini");
        Lines names;
        for (int k = 0; k < n; ++k)
            names.push_back("Port " + std::to_string(k));
        // Names met before in other letters find their entries; a name of another back end gets one.
        names.insert(names.end(), {"PORT 7", "port 499", "Port 3"});
        std::vector<std::pair<const char*, const char*>> saved;
        for (const std::string& name : names)
            saved.emplace_back(name.c_str(), saved.size() == n + 2 ? "T" : "FF4944494D");
        Write(ini, "MIDI.out", saved);
        manager->loadFromIniFile(ini);
        ASSERT_EQ(manager->GetDevCount(0), n + 1);
        for (int k = 0; k <= n; ++k)
            EXPECT_TRUE(manager->GetDevDescriptor(k, 0)->IsPending()) << k;
        EXPECT_EQ(manager->GetDevDescriptor(7, 0)->GetName(), "Port 7") << "an entry found keeps its name";
        EXPECT_EQ(manager->GetDevDescriptor(n, 0)->GetName(), "Port 3");

        // Saved into the same file: every key in place of the old one, in entry order, and the
        // keys of the longer earlier list deleted.
        manager->saveToIniFile(ini);
        Lines expected;
        for (int k = 0; k <= n; ++k)
        {
            expected.push_back("Name" + std::to_string(k) + "=Port " + std::to_string(k < n ? k : 3));
            expected.push_back("Options" + std::to_string(k) + (k < n ? "=FF4944494D" : "=FF00000000"));
        }
        EXPECT_EQ(Section(ini, "MIDI.out", false), expected);
    });
}
