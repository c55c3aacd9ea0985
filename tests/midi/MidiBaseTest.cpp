#include "TestMidiFactory.h"

#include "midi/MidiBase.h"
#include "midi/MidiUtil.h"

#include <gtest/gtest.h>

#include <memory>

using namespace Tr;
using namespace TestMidi;

namespace
{
// A port object of the first listed port of one direction.
std::unique_ptr<TMidiDeviceBase> MakeDevice(TestMidiFactory& factory, unsigned char isInput, int systemIndex = 0)
{
    TList<MidiDeviceDescriptor*> list;
    factory.GetDeviceList(isInput, list);
    std::unique_ptr<TMidiDeviceBase> dev(factory.CreateDevice(list[systemIndex]));
    for (int i = 0; i < list.Count(); ++i)
        delete list[i];
    return dev;
}

TMidiOutputBase* Out(const std::unique_ptr<TMidiDeviceBase>& dev)
{
    return dynamic_cast<TMidiOutputBase*>(dev.get());
}

TMidiInputBase* In(const std::unique_ptr<TMidiDeviceBase>& dev)
{
    return dynamic_cast<TMidiInputBase*>(dev.get());
}

// Closes nothing on destruction, to reach the base destructor's check.
class LeakyOutput : public TMidiOutputBase
{
public:
    using TMidiOutputBase::TMidiOutputBase;
    using TMidiOutputBase::SendShort;
    unsigned char SendShort(unsigned char, unsigned char, unsigned char) override { return 1; }
    int SendLongWait(void*, int len, TMidiOutWaitCallback*) override { return len; }

protected:
    void OpenImpl() override { FHandle = this; }
    bool CloseImpl(void*) override { return true; }
};
} // namespace

TEST(MidiDeviceBase, OpenAndCloseKeepTheOpenPortListRight)
{
    TestMidiFactory factory;
    const int id = factory.AddPort(0, "Base Out");
    auto dev = MakeDevice(factory, 0);

    EXPECT_TRUE(dev->IsClosed());
    dev->Open();
    EXPECT_TRUE(dev->IsOpen());
    EXPECT_TRUE(factory.IsOpen(id));
    EXPECT_TRUE(IsMidiDeviceOpen(0, "Base Out"));
    EXPECT_FALSE(IsMidiDeviceOpen(1, "Base Out"));

    dev->Open();
    EXPECT_EQ(factory.OpenCount(id), 1) << "opening an open port does nothing";
    dev->Close();
    EXPECT_TRUE(dev->IsClosed());
    EXPECT_EQ(factory.CloseCount(id), 1);
    EXPECT_FALSE(IsMidiDeviceOpen(0, "Base Out")) << "one close removes the name opened twice";

    // Close on a closed object still takes its name out.
    AddOpenMidiDevice(0, "base out");
    dev->Close();
    EXPECT_FALSE(IsMidiDeviceOpen(0, "Base Out"));
    EXPECT_EQ(factory.CloseCount(id), 1) << "the back end is not asked to close a closed port";

    // Reopening works; the object survives any number of cycles.
    for (int i = 0; i < 3; ++i)
    {
        dev->Open();
        EXPECT_TRUE(IsMidiDeviceOpen(0, "Base Out"));
        dev->Close();
    }
    EXPECT_EQ(factory.OpenCount(id), 4);
    EXPECT_FALSE(IsMidiDeviceOpen(0, "Base Out"));

    // Two ports whose display names differ only in case share one line: closing either ends it.
    TestMidiFactory other;
    other.AddPort(0, "BASE OUT");
    auto twin = MakeDevice(other, 0);
    dev->Open();
    twin->Open();
    twin->Close();
    EXPECT_FALSE(IsMidiDeviceOpen(0, "Base Out"));
    EXPECT_TRUE(dev->IsOpen());
    dev->Close();
}

TEST(MidiDeviceBase, FailedOpensLeaveNoTrace)
{
    TestMidiFactory factory;
    const int thrower = factory.AddPort(1, "Base In Throws");
    const int silent = factory.AddPort(1, "Base In Stays Closed");
    factory.SetOpenFailure(thrower, OpenFailure::Throw, "device busy");
    factory.SetOpenFailure(silent, OpenFailure::StayClosed);

    auto dev = MakeDevice(factory, 1, 0);
    try
    {
        dev->Open();
        ADD_FAILURE() << "the back end's exception must pass on";
    }
    catch (const EMidiError& e)
    {
        EXPECT_STREQ(e.what(), "device busy");
    }
    EXPECT_TRUE(dev->IsClosed());
    EXPECT_FALSE(IsMidiDeviceOpen(1, "Base In Throws"));

    auto quiet = MakeDevice(factory, 1, 1);
    EXPECT_NO_THROW(quiet->Open());
    EXPECT_TRUE(quiet->IsClosed());
    EXPECT_FALSE(IsMidiDeviceOpen(1, "Base In Stays Closed")) << "a port that stayed closed is not listed as open";

    // The lock was left after the throw: the object opens once the device is free again.
    factory.SetOpenFailure(thrower, OpenFailure::None);
    dev->Open();
    EXPECT_TRUE(IsMidiDeviceOpen(1, "Base In Throws"));
    dev->Close();

    // A descriptor whose port vanished opens nothing (its index no longer exists).
    factory.RemovePort(silent);
    EXPECT_THROW(quiet->Open(), EMidiError);
    EXPECT_TRUE(quiet->IsClosed());
}

TEST(MidiDeviceBase, DescriptorReplacement)
{
    TestMidiFactory factory;
    factory.AddPort(0, "Desc Out");
    auto dev = MakeDevice(factory, 0);
    MidiDeviceDescriptor* before = dev->GetDescriptor();

    MidiDeviceDescriptor same;
    same.AssignFrom(*before);
    dev->SetDescriptor(&same);
    EXPECT_EQ(dev->GetDescriptor(), before) << "an equal descriptor changes nothing";
    dev->SetDescriptor(nullptr);
    EXPECT_EQ(dev->GetDescriptor(), before);

    same.FSystemIndex = 3;
    dev->SetDescriptor(&same);
    EXPECT_NE(dev->GetDescriptor(), &same) << "the object keeps its own clone";
    EXPECT_EQ(dev->GetDescriptor()->FSystemIndex, 3);
    dev->FireMidiErrorEvent("no listener set: nothing happens");
}

TEST(MidiDeviceBaseDeathTest, DestroyingAnOpenObjectIsFatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* dev = new LeakyOutput(new MidiDeviceDescriptor());
            dev->Open();
            delete dev;
        },
        "failed assertion `IsClosed\\(\\)'");
}

TEST(MidiOutputBase, SendOperations)
{
    TestMidiFactory factory;
    const int id = factory.AddPort(0, "Send Out");
    auto dev = MakeDevice(factory, 0);
    TMidiOutputBase* out = Out(dev);
    ASSERT_NE(out, nullptr);

    unsigned char note[3] = {0x90, 0x3C, 0x40};
    EXPECT_EQ(out->SendShort(0x90, 0x3C, 0x40), 0) << "closed ports send nothing";
    EXPECT_EQ(out->SendLong(note, 3), 0);

    dev->Open();
    EXPECT_NE(out->SendShort(0x00403C90u), 0);
    EXPECT_NE(out->SendShort(0x3CC5u), 0);
    EXPECT_EQ(out->SendShort(0x40u), 0) << "a data byte as status sends nothing";
    EXPECT_EQ(out->QueuedLongMessages(), 0);

    // Every byte count that is a multiple of 256 is still "sent".
    for (int len : {1, 3, 255, 256, 512, 546, 768, 65536})
    {
        std::vector<unsigned char> data(static_cast<size_t>(len), 0x11);
        data.front() = 0xF0;
        data.back() = 0xF7;
        EXPECT_EQ(out->SendLong(data.data(), len), 1) << len << " bytes";
    }
    EXPECT_EQ(out->SendLong(note, 0), 0);
    EXPECT_EQ(out->SendLong(note, -4), 0);

    const auto sent = factory.SentLog();
    ASSERT_EQ(sent.size(), 10u);
    EXPECT_EQ(sent[0].bytes, (std::vector<unsigned char>{0x90, 0x3C, 0x40})) << "status, data1, data2 from the low byte up";
    EXPECT_EQ(sent[0].kind, SendKind::Short);
    EXPECT_EQ(sent[1].bytes, (std::vector<unsigned char>{0xC5, 0x3C}));
    EXPECT_EQ(sent[9].bytes.size(), 65536u);
    EXPECT_EQ(sent[9].kind, SendKind::Long);

    factory.ClearSent();
    factory.SetSendFailure(id, SendFailure::Refuse);
    EXPECT_EQ(out->SendLong(note, 3), 0);
    EXPECT_EQ(out->SendShort(0x90, 0x3C, 0x40), 0);
    factory.SetSendFailure(id, SendFailure::Throw);
    EXPECT_THROW(out->SendShort(0x90, 0x3C, 0x40), EMidiError);
    factory.SetSendFailure(id, SendFailure::None);
    factory.RemovePort(id);
    EXPECT_EQ(out->SendLong(note, 3), 0) << "a port that vanished while open refuses";
    EXPECT_TRUE(factory.SentTo(id).empty());
    dev->Close();
}

TEST(MidiInputBase, StartStopAndSwitches)
{
    TestMidiFactory factory;
    const int id = factory.AddPort(1, "Switch In");
    auto dev = MakeDevice(factory, 1);
    TMidiInputBase* in = In(dev);
    ASSERT_NE(in, nullptr);
    RecordingDataListener listener;

    EXPECT_EQ(in->GetActiveSensing(), 1);
    EXPECT_EQ(in->GetTimingClock(), 1);
    in->SetActiveSensing(0);
    in->SetTimingClock(0);
    EXPECT_EQ(in->GetActiveSensing(), 0);
    EXPECT_EQ(in->GetTimingClock(), 0);
    in->SetDataListener(&listener);

    in->Start();
    EXPECT_FALSE(in->IsStarted()) << "a closed input does not start";
    EXPECT_EQ(factory.Inject(id, {0x90, 0x3C, 0x40}), -1);

    dev->Open();
    in->Start();
    in->Start();
    EXPECT_TRUE(in->IsStarted());
    EXPECT_EQ(factory.Inject(id, {0xFE, 0xF8, 0x90, 0x3C, 0x40}, 77), 1);
    const auto messages = listener.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].sender, in);
    EXPECT_EQ(messages[0].time, 77u);

    in->Stop();
    EXPECT_FALSE(in->IsStarted());
    EXPECT_EQ(factory.Inject(id, {0x90, 0x3C, 0x40}), -1);
    in->Start();
    dev->Close();
    EXPECT_FALSE(factory.IsStarted(id)) << "closing stops delivery";

    factory.SetStartFailure(id, true);
    dev->Open();
    EXPECT_THROW(in->Start(), EMidiError);
    EXPECT_TRUE(dev->IsOpen()) << "a failed start leaves the input open";
    dev->Close();
}
