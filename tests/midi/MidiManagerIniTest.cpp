// The "MIDI.in" and "MIDI.out" ini sections. Run through ctest: see ManagerFixture.h.
#include "ManagerFixture.h"

#include "core/TrIniFile.h"
#include "core/TrStringList.h"

#include <algorithm>

using namespace ManagerTesting;

namespace
{
// The section's key=value lines, sorted: where the ini file puts a rewritten key is its own business.
std::vector<std::string> Section(const Tr::TIniFile& ini, const std::string& section)
{
    Tr::TStringList lines;
    std::vector<std::string> out;
    if (ini.ReadSectionEntries(section, lines))
        for (int i = 0; i < lines.Count(); ++i)
            out.push_back(lines[i].FText);
    std::sort(out.begin(), out.end());
    return out;
}
} // namespace

TEST_F(ManagerTest, SaveWritesOpenAndWaitingPortsAndDropsStaleKeys)
{
    Start();
    factory->AddPort(0, "B");
    factory->AddPort(0, "A");
    factory->AddPort(0, "Idle");
    factory->AddPort(1, "Keys");
    factory->AddPort(1, "Pads");
    manager->SetSuspended(0);
    manager->Open(0, 0, 1);
    manager->Open(1, 0, 1);
    manager->Open(1, 1, 1);
    manager->EnableInTimeCode(1, 0);
    manager->GetOutDevIndexByName("Unplugged", Tr::PortTypeMIDI, 1);
    manager->Open(3, 0, 1);   // never present: waits

    Tr::TIniFile ini("unused.ini");
    for (int k = 0; k < 5; ++k)
    {
        ini.WriteString("MIDI.out", "Name" + std::to_string(k), "old");
        ini.WriteString("MIDI.out", "Options" + std::to_string(k), "FF4944494D");
    }
    ini.WriteString("MIDI.out", "Options6", "kept: the deletion stops at the first missing name");
    manager->saveToIniFile(ini);

    const std::vector<std::string> outs = {"Name0=B",         "Name1=A",          "Name2=Unplugged",
                                           "Options0=FF4944494D", "Options1=FF4944494D", "Options2=FF4944494D",
                                           "Options6=kept: the deletion stops at the first missing name"};
    EXPECT_EQ(Section(ini, "MIDI.out"), outs) << "the idle port is not saved; stale keys are deleted";
    const std::vector<std::string> ins = {"Name0=Pads", "Options0=TFFF4944494D"};
    EXPECT_EQ(Section(ini, "MIDI.in"), ins);

    manager->FPersistent = 0;
    Tr::TIniFile untouched("unused.ini");
    manager->saveToIniFile(untouched);
    EXPECT_FALSE(untouched.SectionExists("MIDI.out")) << "not persistent: nothing written";
}

TEST_F(ManagerTest, LoadMakesWaitingPlaceholdersThatTheFirstScanMatches)
{
    Start();
    const int synth = factory->AddPort(0, "Synth");
    const int keys = factory->AddPort(1, "Keys");

    Tr::TIniFile ini("unused.ini");
    ini.WriteString("MIDI.out", "Name0", "synth");   // letter case differs from the port's
    ini.WriteString("MIDI.out", "Options0", "FF4944494D");
    ini.WriteString("MIDI.out", "Name1", "Unplugged");
    ini.WriteString("MIDI.out", "Options1", "FF4944494D");
    ini.WriteString("MIDI.in", "Name0", "Keys");
    ini.WriteString("MIDI.in", "Options0", "TTFF4944494D");

    manager->FPersistent = 0;
    manager->loadFromIniFile(ini);
    manager->FPersistent = 1;
    EXPECT_EQ(listener.listChanges, 0);
    manager->loadFromIniFile(ini);
    EXPECT_EQ(listener.listChanges, 0) << "the load does not scan";

    EXPECT_EQ(manager->GetDevCount(0), 2) << "the first scan matches the placeholders by name";
    EXPECT_EQ(manager->GetDevIndex("Synth", 0), 0);
    Tr::MidiManagerDev* unplugged = manager->GetDevDescriptor(1, 0);
    EXPECT_EQ(unplugged->GetName(), "Unplugged");
    EXPECT_FALSE(unplugged->Exists());
    EXPECT_TRUE(unplugged->IsPending());
    auto* input = static_cast<Tr::MMDevIn*>(manager->GetDevDescriptor(0, 1));
    EXPECT_TRUE(input->IsActiveSensingEnabled());
    EXPECT_TRUE(input->IsTimingClockEnabled());

    manager->loadFromIniFile(ini);
    EXPECT_EQ(manager->GetDevCount(0), 2) << "loading again finds the same entries";

    manager->SetSuspended(0);
    EXPECT_TRUE(factory->IsOpen(synth)) << "ending the suspension opens the saved ports that are present";
    EXPECT_TRUE(factory->IsStarted(keys));
    EXPECT_TRUE(unplugged->IsPending());

    // Written back exactly as it was read, the absent port included.
    Tr::TIniFile saved("unused.ini");
    manager->saveToIniFile(saved);
    const std::vector<std::string> outs = {"Name0=Synth", "Name1=Unplugged", "Options0=FF4944494D",
                                           "Options1=FF4944494D"};
    EXPECT_EQ(Section(saved, "MIDI.out"), outs) << "the port's own display name is written";
    EXPECT_EQ(Section(saved, "MIDI.in"), Section(ini, "MIDI.in"));
}

TEST_F(ManagerTest, LoadReadsTypeCodesAndSkipsDamagedEntries)
{
    Start();
    Tr::TIniFile ini("unused.ini");
    ini.WriteString("MIDI.out", "Name0", "X");
    ini.WriteString("MIDI.out", "Options0", "FF4944494D");
    ini.WriteString("MIDI.out", "Name1", "V");
    ini.WriteString("MIDI.out", "Options1", "T");
    ini.WriteString("MIDI.out", "Name2", "I");
    ini.WriteString("MIDI.out", "Options2", "FT");
    ini.WriteString("MIDI.out", "Name3", "");
    ini.WriteString("MIDI.out", "Options3", "FF4944494D");
    ini.WriteString("MIDI.out", "Name4", "Bad");
    ini.WriteString("MIDI.out", "Options4", "FFZZ44494D");
    ini.WriteString("MIDI.out", "Name5", "NoOptions");
    ini.WriteString("MIDI.out", "Options7", "FF4944494D");   // beyond the first gap: not read
    ini.WriteString("MIDI.out", "Name7", "AfterGap");

    // The back ends named by the options must be registered for their entries to carry the type.
    auto* vmid = new TestMidi::TestMidiFactory(Tr::PortTypeVMID);
    auto* intm = new TestMidi::TestMidiFactory(Tr::PortTypeIntM);
    manager->AddFactory(vmid, 0);
    manager->AddFactory(intm, 0);
    manager->loadFromIniFile(ini);

    ASSERT_EQ(manager->GetDevCount(0), 5) << "the nameless entry is skipped";
    auto type = [&](int i) { return manager->GetDevDescriptor(i, 0)->GetDescriptor()->GetType(); };
    auto name = [&](int i) { return manager->GetDevDescriptor(i, 0)->GetName(); };
    EXPECT_EQ(name(0), "X");
    EXPECT_EQ(type(0), Tr::PortTypeMIDI);
    EXPECT_EQ(type(1), Tr::PortTypeVMID) << "options T";
    EXPECT_EQ(type(2), Tr::PortTypeIntM) << "options FT";
    EXPECT_EQ(name(3), "Bad");
    EXPECT_EQ(type(3), 0u) << "type digits that are not hexadecimal name no back end";
    EXPECT_EQ(name(4), "NoOptions");
    EXPECT_EQ(type(4), Tr::PortTypeMIDI) << "missing options mean the system back end";
    for (int i = 0; i < 5; ++i)
    {
        EXPECT_TRUE(manager->GetDevDescriptor(i, 0)->IsPending()) << i;
        EXPECT_FALSE(manager->GetDevDescriptor(i, 0)->Exists()) << i;
    }

    // Options TT also mean the second extra back end; a short damaged input value keeps the flags.
    Tr::TIniFile more("unused.ini");
    more.WriteString("MIDI.out", "Name0", "Both");
    more.WriteString("MIDI.out", "Options0", "TT");
    more.WriteString("MIDI.in", "Name0", "Half");
    more.WriteString("MIDI.in", "Options0", "F");
    more.WriteString("MIDI.in", "Name1", "Off");
    more.WriteString("MIDI.in", "Options1", "FFFF4944494D");
    manager->loadFromIniFile(more);
    EXPECT_EQ(type(5), Tr::PortTypeIntM);
    for (int i = 0; i < 2; ++i)
    {
        auto* input = static_cast<Tr::MMDevIn*>(manager->GetDevDescriptor(i, 1));
        EXPECT_TRUE(input->IsActiveSensingEnabled()) << "an entry found or made keeps its own flags";
        EXPECT_TRUE(input->IsTimingClockEnabled());
        EXPECT_EQ(input->GetDescriptor()->GetType(), Tr::PortTypeMIDI);
    }
}
