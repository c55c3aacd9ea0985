#include "TestMidiFactory.h"

#include "core/TrStringList.h"
#include "midi/MidiDevice.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>

using namespace Tr;
using TestMidi::TestMidiFactory;
using Names = std::vector<std::string>;

namespace
{
// Owns the clones a listing hands out.
struct DescriptorList
{
    TList<MidiDeviceDescriptor*> list;
    ~DescriptorList()
    {
        for (int i = 0; i < list.Count(); ++i)
            delete list[i];
    }
    Names names()
    {
        Names out;
        for (int i = 0; i < list.Count(); ++i)
            out.push_back(list[i]->GetName());
        return out;
    }
};

// Counts its own deletions, to see which elements a listing replaced.
struct CountedDescriptor : MidiDeviceDescriptor
{
    explicit CountedDescriptor(int& deleted) : FDeleted(deleted) {}
    ~CountedDescriptor() override { ++FDeleted; }
    int& FDeleted;
};

Names Listing(TestMidiFactory& factory, unsigned char isInput)
{
    DescriptorList l;
    factory.GetDeviceList(isInput, l.list);
    return l.names();
}
} // namespace

TEST(MidiDeviceDescriptor, CopiesPortObjectsAndMatching)
{
    TestMidiFactory factory;
    MidiDeviceDescriptor d(&factory, 1, 4, "Synth", "serial-1", "unit-1", "Public");
    EXPECT_EQ(d.FSerial + "|" + d.FInterfaceName, "serial-1|unit-1") << "serial comes first among the arguments";
    d.FQualifier = "q";
    std::unique_ptr<MidiDeviceDescriptor> copy(d.Clone());
    EXPECT_TRUE(copy->IsEqual(&d)) << "a clone copies every field";
    std::unique_ptr<TMidiDeviceBase> in(d.CreateInputDevice());
    EXPECT_NE(dynamic_cast<TMidiInputBase*>(in.get()), nullptr);
    EXPECT_EQ(d.CreateOutputDevice(), nullptr) << "port objects only of the matching direction";
    EXPECT_EQ(MidiDeviceDescriptor().CreateDevice(), nullptr) << "no factory, no port object";

    // A port object keeps a clone of its own, replaced only by a different descriptor.
    MidiDeviceDescriptor* own = in->GetDescriptor();
    in->SetDescriptor(&d);
    in->SetDescriptor(nullptr);
    EXPECT_EQ(in->GetDescriptor(), own) << "an equal descriptor or none changes nothing";
    d.FSystemIndex = 3;
    in->SetDescriptor(&d);
    EXPECT_NE(in->GetDescriptor(), &d);
    EXPECT_EQ(in->GetDescriptor()->FSystemIndex, 3);
    in->FireMidiErrorEvent("no listener set: nothing happens");

    // Matches ignores the index while IsEqual compares everything.
    TestMidiFactory& f1 = factory;
    TestMidiFactory f2;
    const MidiDeviceDescriptor a(&f1, 0, 0, "Port", "0000000A", "00000001", "");
    struct Case
    {
        const char* what;
        std::function<void(MidiDeviceDescriptor&)> change;
        bool matches, equal;
    };
    const Case cases[] = {
        {"the same", [](MidiDeviceDescriptor&) {}, true, true},
        {"another index, identifiers in other letters",
         [](MidiDeviceDescriptor& x) { x.FSystemIndex = 5, x.FSerial = "0000000a"; }, true, false},
        {"another public name", [](MidiDeviceDescriptor& x) { x.FPublicName = "P"; }, true, false},
        {"no factory passes", [](MidiDeviceDescriptor& x) { x.FFactory = nullptr; }, true, false},
        {"another factory", [&](MidiDeviceDescriptor& x) { x.FFactory = &f2; }, false, false},
        {"another direction", [](MidiDeviceDescriptor& x) { x.FIsInput = 7; }, false, false},
        {"names compare byte for byte", [](MidiDeviceDescriptor& x) { x.FName = "port"; }, false, false},
        {"another qualifier", [](MidiDeviceDescriptor& x) { x.FQualifier = "x"; }, false, false},
        {"another unit", [](MidiDeviceDescriptor& x) { x.FInterfaceName = "00000002"; }, false, false},
    };
    for (const Case& c : cases)
    {
        MidiDeviceDescriptor b;
        b.AssignFrom(a);
        c.change(b);
        EXPECT_EQ(a.Matches(&b), c.matches) << c.what;
        EXPECT_EQ(a.IsEqual(&b), c.equal) << c.what;
    }
    EXPECT_FALSE(a.Matches(nullptr) || a.IsEqual(nullptr));
    MidiDeviceDescriptor in1(&f1, 1, 0, "Port", "", "", ""), in7(&f1, 7, 0, "Port", "", "", "");
    EXPECT_TRUE(in1.Matches(&in7) && in1.IsEqual(&in7)) << "any non-zero direction is input";

    // Without identifiers of its own a descriptor tells like-named ports apart by duplicate number,
    // so the answer depends on which side asks.
    MidiDeviceDescriptor bare(&f1, 0, 3, "Port", "", "", "");
    EXPECT_TRUE(bare.Matches(&a));
    EXPECT_FALSE(a.Matches(&bare));
    bare.FDupNumber = 2;
    EXPECT_FALSE(bare.Matches(&a));
}

TEST(MidiDeviceFactory, DuplicateNamesAreNumberedAndStayStableAcrossRefreshes)
{
    TestMidiFactory factory;
    factory.UseManualClock();
    const int first = factory.AddPort(0, "Synth", "", "unit-A");
    factory.AddPort(0, "Synth", "", "unit-B");
    factory.AddPort(0, "SYNTH", "", "unit-C");
    factory.AddPort(0, "Port", "group-1", "unit-X");
    factory.AddPort(0, "Port", "GROUP-1", "unit-x");
    factory.AddPort(0, "Port", "group-1", "unit-Y");
    factory.AddPort(0, "Loose");
    factory.AddPort(0, "Loose");
    factory.AddPort(1, "Synth", "", "unit-A");
    const Names expected = {"Synth", "Synth (2)", "SYNTH (3)", "Port 1", "Port 2", "Port (3)", "Loose", "Loose (2)"};
    EXPECT_EQ(Listing(factory, 0), expected);
    EXPECT_EQ(Listing(factory, 1), Names{"Synth"}) << "inputs are numbered on their own";
    DescriptorList l;
    factory.GetDeviceList(0, l.list);
    EXPECT_EQ(l.list[3]->FName, "Port 1") << "a number moved into the name leaves no suffix";
    EXPECT_EQ(l.list[5]->FName, "Port") << "a port of another unit keeps the bare name";
    EXPECT_EQ(l.list[7]->FSystemIndex, 7);

    for (int round = 0; round < 2; ++round)
    {
        const int before = factory.RecreateCount();
        factory.AdvanceClock(1500);
        EXPECT_EQ(Listing(factory, 0), expected) << "the numbering comes out the same on every refresh";
        EXPECT_EQ(factory.RecreateCount(), before + 2) << "both directions are refreshed";
    }
    factory.RemovePort(first);
    factory.AdvanceClock(1500);
    EXPECT_EQ(Listing(factory, 0)[1], "SYNTH (2)") << "a port vanishing renumbers the rest on the next refresh";
}

TEST(MidiDeviceFactory, CacheLivesUntilNoOneAskedFor1500ms)
{
    TestMidiFactory factory;
    factory.UseManualClock(50000);
    const int port = factory.AddPort(0, "A");
    EXPECT_EQ(Listing(factory, 0), Names{"A"});
    EXPECT_EQ(factory.RecreateCount(), 2) << "a new factory's cache is stale";
    factory.RenamePort(port, "B");
    for (int step : {1000, 1000, 1499})
    {
        factory.AdvanceClock(step);
        EXPECT_EQ(Listing(factory, 0), Names{"A"}) << "each request restarts the 1500 ms, however old the cache";
    }
    factory.AdvanceClock(1500);
    EXPECT_EQ(Listing(factory, 0), Names{"B"});
    EXPECT_EQ(factory.RecreateCount(), 4);

    factory.RenamePort(port, "C");
    factory.AdvanceClock(-5);
    EXPECT_EQ(Listing(factory, 0), Names{"C"}) << "a clock going back refreshes";
    factory.RenamePort(port, "D");
    factory.FLastCacheTime = 0;
    EXPECT_EQ(Listing(factory, 0), Names{"D"}) << "a zeroed time forces a refresh";
    factory.RenamePort(port, "E");
    TStringList names;
    factory.GetDeviceList(0, names);
    EXPECT_EQ(names[0].FText, "D") << "the same rule serves the name lists";
}

TEST(MidiDeviceFactory, ListingsIntoFilledListsReplaceTheOldElementsAndNameListsCarryIndices)
{
    TestMidiFactory factory;
    factory.AddPort(0, "One");
    factory.AddPort(0, "Two");
    factory.AddPort(1, "In A", "", "", "Public A");
    factory.AddPort(1, "In B");
    factory.AddPort(1, "In A", "", "", "Public A2");
    TestMidiFactory none;   // a back end with no ports empties the list
    for (auto [from, listed] : {std::make_pair(&factory, Names{"One", "Two"}), std::make_pair(&none, Names{})})
        for (int held : {5, 1, 2})
        {
            int deleted = 0;
            DescriptorList l;
            for (int i = 0; i < held; ++i)
                l.list.Add(new CountedDescriptor(deleted));
            from->GetDeviceList(0, l.list);
            EXPECT_EQ(deleted, held) << "every element held before is deleted";
            EXPECT_EQ(l.names(), listed);
        }
    TStringList names, publicNames;
    names.Add("stale", 9);
    factory.GetDeviceList(1, names);
    ASSERT_EQ(names.Count(), 3);
    EXPECT_EQ(names[2].FText, "In A (2)");
    EXPECT_EQ(names[2].FTag, 2) << "the tag carries the system index";
    factory.GetPublicDeviceNameList(1, publicNames);
    ASSERT_EQ(publicNames.Count(), 2) << "ports without a public name are left out";
    EXPECT_EQ(publicNames[1].FTag, 2);
}
