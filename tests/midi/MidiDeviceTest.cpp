#include "TestMidiFactory.h"

#include "core/TrStringList.h"
#include "midi/MidiDevice.h"

#include <gtest/gtest.h>

#include <memory>

using namespace Tr;
using TestMidi::TestMidiFactory;

namespace
{
// Owns the clones a listing hands out.
struct DescriptorList
{
    TList<MidiDeviceDescriptor*> list;
    ~DescriptorList() { clear(); }
    void clear()
    {
        for (int i = 0; i < list.Count(); ++i)
            delete list[i];
        list.Clear();
    }
    std::vector<std::string> names()
    {
        std::vector<std::string> out;
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

std::vector<std::string> Listing(TestMidiFactory& factory, unsigned char isInput)
{
    DescriptorList l;
    factory.GetDeviceList(isInput, l.list);
    return l.names();
}
} // namespace

TEST(MidiDeviceDescriptor, IdentityNameAndCopies)
{
    MidiDeviceDescriptor none;
    EXPECT_EQ(none.FFactory, nullptr);
    EXPECT_EQ(none.GetType(), 0u);
    EXPECT_EQ(none.GetTypeName(), "");
    EXPECT_EQ(none.CreateDevice(), nullptr) << "no factory, no port object";

    TestMidiFactory factory;
    MidiDeviceDescriptor d(&factory, 1, 4, "Synth", "serial-1", "unit-1", "Public");
    EXPECT_EQ(d.FSerial, "serial-1") << "serial comes before the interface name among the arguments";
    EXPECT_EQ(d.FInterfaceName, "unit-1");
    EXPECT_EQ(d.FQualifier, "");
    EXPECT_EQ(d.FDupNumber, 0);
    EXPECT_EQ(d.GetType(), 0x4944494Du);
    EXPECT_EQ(d.GetTypeName(), "Test MIDI Input");

    EXPECT_EQ(d.GetName(), "Synth");
    d.FDupNumber = 1;
    EXPECT_EQ(d.GetName(), "Synth") << "the first of a name shows bare";
    d.FDupNumber = 2;
    EXPECT_EQ(d.GetName(), "Synth (2)");

    d.FQualifier = "q";
    std::unique_ptr<MidiDeviceDescriptor> copy(d.Clone());
    EXPECT_TRUE(copy->IsEqual(&d)) << "a clone copies all nine fields";
    EXPECT_EQ(copy->FQualifier, "q");
    copy->FName = "Other";
    EXPECT_EQ(d.FName, "Synth") << "a clone is independent";

    copy->InvalidateSerialAndInterface();
    EXPECT_EQ(copy->FSerial, "");
    EXPECT_EQ(copy->FInterfaceName, "");
    EXPECT_EQ(copy->FPublicName, "Public");

    // Port objects: only of the matching direction.
    std::unique_ptr<TMidiDeviceBase> in(d.CreateInputDevice());
    EXPECT_NE(dynamic_cast<TMidiInputBase*>(in.get()), nullptr);
    EXPECT_EQ(d.CreateOutputDevice(), nullptr);
    EXPECT_NE(in->GetDescriptor(), &d) << "the port object owns its own clone";
    EXPECT_TRUE(in->GetDescriptor()->IsEqual(&d));
    EXPECT_EQ(factory.CreateDevice(nullptr), nullptr);
}

TEST(MidiDeviceDescriptor, MatchesIgnoresIndexWhileIsEqualComparesEverything)
{
    TestMidiFactory f1, f2;
    MidiDeviceDescriptor a(&f1, 0, 0, "Port", "0000000A", "00000001", "");
    MidiDeviceDescriptor b(&f1, 0, 5, "Port", "0000000a", "00000001", "");
    EXPECT_TRUE(a.Matches(&b)) << "same port at another index, identifiers equal ignoring case";
    EXPECT_FALSE(a.IsEqual(&b)) << "IsEqual compares the index and the identifiers byte for byte";
    EXPECT_FALSE(a.Matches(nullptr));
    EXPECT_FALSE(a.IsEqual(nullptr));

    MidiDeviceDescriptor c(&f1, 0, 0, "Port", "0000000A", "00000001", "");
    EXPECT_TRUE(a.IsEqual(&c));
    c.FIsInput = 7;
    EXPECT_FALSE(a.Matches(&c)) << "direction";
    a.FIsInput = 1;
    EXPECT_TRUE(a.Matches(&c)) << "any non-zero direction is input";
    EXPECT_TRUE(a.IsEqual(&c));
    a.FIsInput = 0;
    c.FIsInput = 0;

    MidiDeviceDescriptor other(&f2, 0, 0, "Port", "0000000A", "00000001", "");
    EXPECT_FALSE(a.Matches(&other)) << "different factories";
    MidiDeviceDescriptor orphan(nullptr, 0, 0, "Port", "0000000A", "00000001", "");
    EXPECT_TRUE(a.Matches(&orphan)) << "a missing factory passes";
    EXPECT_FALSE(a.IsEqual(&orphan));

    MidiDeviceDescriptor renamed(&f1, 0, 0, "port", "0000000A", "00000001", "");
    EXPECT_FALSE(a.Matches(&renamed)) << "names compare byte for byte";
    MidiDeviceDescriptor qualified(&f1, 0, 0, "Port", "0000000A", "00000001", "");
    qualified.FQualifier = "x";
    EXPECT_FALSE(a.Matches(&qualified));
    MidiDeviceDescriptor otherUnit(&f1, 0, 0, "Port", "0000000A", "00000002", "");
    EXPECT_FALSE(a.Matches(&otherUnit));
    MidiDeviceDescriptor publicName(&f1, 0, 0, "Port", "0000000A", "00000001", "P");
    EXPECT_TRUE(a.Matches(&publicName));
    EXPECT_FALSE(a.IsEqual(&publicName));

    // Without identifiers of its own a descriptor tells like-named ports apart by duplicate number,
    // so the answer depends on which side asks.
    MidiDeviceDescriptor bare(&f1, 0, 3, "Port", "", "", "");
    bare.FDupNumber = 0;
    a.FDupNumber = 0;
    EXPECT_TRUE(bare.Matches(&a));
    EXPECT_FALSE(a.Matches(&bare));
    bare.FDupNumber = 2;
    EXPECT_FALSE(bare.Matches(&a));
}

TEST(MidiDeviceFactory, DuplicateNamesAreNumberedAndStayStableAcrossRefreshes)
{
    TestMidiFactory factory;
    factory.UseManualClock();
    factory.AddPort(0, "Synth", "", "unit-A");
    factory.AddPort(0, "Synth", "", "unit-B");
    factory.AddPort(0, "SYNTH", "", "unit-C");
    factory.AddPort(0, "Port", "group-1", "unit-X");
    factory.AddPort(0, "Port", "GROUP-1", "unit-x");
    factory.AddPort(0, "Port", "group-1", "unit-Y");
    factory.AddPort(0, "Loose");
    factory.AddPort(0, "Loose");
    factory.AddPort(0, "Single", "g", "u");
    factory.AddPort(1, "Synth", "", "unit-A");

    const std::vector<std::string> expected = {"Synth",  "Synth (2)", "SYNTH (3)", "Port 1", "Port 2",
                                               "Port (3)", "Loose",   "Loose (2)", "Single"};
    EXPECT_EQ(Listing(factory, 0), expected);
    EXPECT_EQ(Listing(factory, 1), std::vector<std::string>{"Synth"}) << "inputs are numbered on their own";

    DescriptorList l;
    factory.GetDeviceList(0, l.list);
    EXPECT_EQ(l.list[3]->FDupNumber, 0) << "a number moved into the name leaves no suffix";
    EXPECT_EQ(l.list[3]->FName, "Port 1");
    EXPECT_EQ(l.list[5]->FName, "Port") << "a port of another unit keeps the bare name";
    EXPECT_EQ(l.list[6]->FDupNumber, 1);
    EXPECT_EQ(l.list[8]->FDupNumber, 0);
    for (int i = 0; i < l.list.Count(); ++i)
        EXPECT_EQ(l.list[i]->FSystemIndex, i);

    // Every refresh rebuilds the cache from the system; the numbering comes out the same.
    for (int round = 0; round < 3; ++round)
    {
        const int before = factory.RecreateCount();
        factory.AdvanceClock(1500);
        EXPECT_EQ(Listing(factory, 0), expected) << "round " << round;
        EXPECT_EQ(factory.RecreateCount(), before + 2) << "both directions are refreshed";
    }

    // A port of a name vanishing renumbers the rest on the next refresh.
    factory.RemovePort(factory.FindPort(0, "Synth"));
    factory.AdvanceClock(1500);
    EXPECT_EQ(Listing(factory, 0)[0], "Synth");
    EXPECT_EQ(Listing(factory, 0)[1], "SYNTH (2)");
}

TEST(MidiDeviceFactory, CacheLivesUntilNoOneAskedFor1500ms)
{
    TestMidiFactory factory;
    factory.UseManualClock(50000);
    const int port = factory.AddPort(0, "A");
    EXPECT_EQ(Listing(factory, 0).size(), 1u);
    EXPECT_EQ(factory.RecreateCount(), 2) << "a new factory's cache is stale";

    factory.RenamePort(port, "B");
    factory.AdvanceClock(1000);
    EXPECT_EQ(Listing(factory, 0), std::vector<std::string>{"A"});
    factory.AdvanceClock(1000);
    EXPECT_EQ(Listing(factory, 0), std::vector<std::string>{"A"})
        << "each request restarts the 1500 ms, however old the cache";
    factory.AdvanceClock(1499);
    EXPECT_EQ(Listing(factory, 0), std::vector<std::string>{"A"});
    EXPECT_EQ(factory.RecreateCount(), 2);
    factory.AdvanceClock(1500);
    EXPECT_EQ(Listing(factory, 0), std::vector<std::string>{"B"});
    EXPECT_EQ(factory.RecreateCount(), 4);

    factory.RenamePort(port, "C");
    factory.AdvanceClock(-5);
    EXPECT_EQ(Listing(factory, 0), std::vector<std::string>{"C"}) << "a clock going back refreshes";

    factory.RenamePort(port, "D");
    factory.AdvanceClock(10);
    factory.FLastCacheTime = 0;
    EXPECT_EQ(Listing(factory, 0), std::vector<std::string>{"D"}) << "a zeroed time forces a refresh";

    // The same rule serves every listing.
    factory.RenamePort(port, "E");
    TStringList names;
    factory.GetDeviceList(0, names);
    ASSERT_EQ(names.Count(), 1);
    EXPECT_EQ(names[0].FText, "D");
    factory.AdvanceClock(1500);
    factory.GetDeviceList(0, names);
    EXPECT_EQ(names[0].FText, "E");
}

TEST(MidiDeviceFactory, ListingsIntoFilledListsReplaceTheOldElements)
{
    TestMidiFactory factory;
    factory.UseManualClock();
    factory.AddPort(0, "One");
    factory.AddPort(0, "Two");

    int deleted = 0;
    DescriptorList l;
    for (int i = 0; i < 5; ++i)
        l.list.Add(new CountedDescriptor(deleted));
    factory.GetDeviceList(0, l.list);
    EXPECT_EQ(deleted, 5) << "the two overwritten and the three surplus elements are deleted";
    EXPECT_EQ(l.names(), (std::vector<std::string>{"One", "Two"}));

    deleted = 0;
    l.clear();
    l.list.Add(new CountedDescriptor(deleted));
    factory.GetDeviceList(0, l.list);
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(l.names(), (std::vector<std::string>{"One", "Two"})) << "missing positions are appended";

    // Listing into the same list again neither leaks nor keeps stale copies.
    factory.GetDeviceList(0, l.list);
    factory.GetDeviceList(0, l.list);
    EXPECT_EQ(l.list.Count(), 2);

    TestMidiFactory empty;
    DescriptorList none;
    empty.GetDeviceList(1, none.list);
    EXPECT_EQ(none.list.Count(), 0);
    none.list.Add(new CountedDescriptor(deleted));
    deleted = 0;
    empty.GetDeviceList(1, none.list);
    EXPECT_EQ(none.list.Count(), 0);
    EXPECT_EQ(deleted, 1);
}

TEST(MidiDeviceFactory, NameListsCacheSizeAndErrorEvents)
{
    TestMidiFactory factory;
    factory.UseManualClock();
    factory.AddPort(1, "In A", "", "", "Public A");
    factory.AddPort(1, "In B");
    factory.AddPort(1, "In A", "", "", "Public A2");

    TStringList names;
    names.Add("stale", 9);
    factory.GetDeviceList(1, names);
    ASSERT_EQ(names.Count(), 3);
    EXPECT_EQ(names[2].FText, "In A (2)");
    EXPECT_EQ(names[2].FTag, 2) << "the tag carries the system index";

    TStringList publicNames;
    factory.GetPublicDeviceNameList(1, publicNames);
    ASSERT_EQ(publicNames.Count(), 2);
    EXPECT_EQ(publicNames[0].FText, "Public A");
    EXPECT_EQ(publicNames[1].FText, "Public A2");
    EXPECT_EQ(publicNames[1].FTag, 2);

    // Null entries appended by SetCacheCount are skipped by every listing.
    factory.SetCacheCount(1, 5, 1);
    factory.GetDeviceList(1, names);
    EXPECT_EQ(names.Count(), 3);
    DescriptorList l;
    factory.GetDeviceList(1, l.list);
    ASSERT_EQ(l.list.Count(), 5);
    EXPECT_EQ(l.list[4], nullptr);
    l.clear();
    factory.SetCacheCount(1, 1, 0);
    factory.GetDeviceList(1, l.list);
    EXPECT_EQ(l.names(), std::vector<std::string>{"In A"});
    factory.SetCacheCount(1, -3, 1);
    factory.GetDeviceList(1, names);
    EXPECT_EQ(names.Count(), 0);

    struct Listener : TMidiDeviceErrorListener
    {
        TMidiDeviceBase* device = nullptr;
        std::string message;
        void OnMidiDeviceError(TMidiDeviceBase* d, const std::string& m) override
        {
            device = d;
            message = m;
        }
    } listener;
    factory.FireMidiErrorEvent(nullptr, "nobody listens");
    factory.FErrorListener = &listener;
    MidiDeviceDescriptor desc(&factory, 0, 0, "Out", "", "", "");
    std::unique_ptr<TMidiDeviceBase> dev(factory.CreateOutputDevice(&desc));
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(factory.CreateInputDevice(&desc), nullptr);
    dev->FireMidiErrorEvent("cable pulled");
    EXPECT_EQ(listener.device, dev.get());
    EXPECT_EQ(listener.message, "cable pulled");
}

TEST(MidiDeviceFactory, PortTypeCodes)
{
    EXPECT_EQ(PortTypeMIDI, 0x4944494Du);
    EXPECT_EQ(PortTypeVMID, 0x44494D56u);
    EXPECT_EQ(PortTypeIntM, 0x4D746E49u);
    TestMidiFactory other(PortTypeVMID);
    MidiDeviceDescriptor d(&other, 0, 0, "x", "", "", "");
    EXPECT_EQ(d.GetType(), PortTypeVMID);
}
