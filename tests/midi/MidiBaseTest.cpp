#include "TestMidiFactory.h"

#include "midi/MidiBase.h"
#include "midi/MidiUtil.h"

#include <gtest/gtest.h>

#include <memory>

using namespace Tr;
using namespace TestMidi;

namespace
{
// A port object for the port at systemIndex of one direction, listed under name.
std::unique_ptr<TMidiDeviceBase> MakeDevice(TestMidiFactory& factory, unsigned char isInput, const std::string& name,
                                            int systemIndex = 0)
{
    MidiDeviceDescriptor desc(&factory, isInput, systemIndex, name, "", "", "");
    return std::unique_ptr<TMidiDeviceBase>(factory.CreateDevice(&desc));
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
    auto dev = MakeDevice(factory, 0, "Base Out");
    dev->Open();
    dev->Open();
    EXPECT_TRUE(dev->IsOpen());
    EXPECT_EQ(factory.OpenCount(id), 1) << "opening an open port does nothing";
    EXPECT_TRUE(IsMidiDeviceOpen(0, "Base Out"));
    dev->Close();
    EXPECT_TRUE(dev->IsClosed());
    EXPECT_FALSE(IsMidiDeviceOpen(0, "Base Out")) << "one close removes the name opened twice";

    AddOpenMidiDevice(0, "base out");
    dev->Close();
    EXPECT_FALSE(IsMidiDeviceOpen(0, "Base Out")) << "Close on a closed object still takes its name out";
    EXPECT_EQ(factory.CloseCount(id), 1) << "the back end is not asked to close a closed port";

    // A back end's exception passes on and leaves no trace; the lock was left, so a later open works.
    factory.SetOpenFailure(id, OpenFailure::Throw, "device busy");
    EXPECT_THROW(dev->Open(), EMidiError);
    EXPECT_TRUE(dev->IsClosed());
    EXPECT_FALSE(IsMidiDeviceOpen(0, "Base Out"));
    factory.SetOpenFailure(id, OpenFailure::StayClosed);
    EXPECT_NO_THROW(dev->Open());
    EXPECT_TRUE(dev->IsClosed());
    EXPECT_FALSE(IsMidiDeviceOpen(0, "Base Out")) << "a port that stayed closed is not listed as open";
    factory.SetOpenFailure(id, OpenFailure::None);
    dev->Open();
    EXPECT_TRUE(dev->IsOpen() && IsMidiDeviceOpen(0, "Base Out")) << "a closed object opens again";
    dev->Close();
    factory.RemovePort(id);
    EXPECT_THROW(dev->Open(), EMidiError) << "a descriptor whose port vanished opens nothing";
}

TEST(MidiDeviceBaseDeathTest, DestroyingAnOpenObjectIsFatal)
{
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
    auto dev = MakeDevice(factory, 0, "Send Out");
    auto* out = dynamic_cast<TMidiOutputBase*>(dev.get());
    ASSERT_NE(out, nullptr);
    unsigned char note[3] = {0x90, 0x3C, 0x40};
    EXPECT_EQ(out->SendShort(0x90, 0x3C, 0x40), 0) << "closed ports send nothing";
    EXPECT_EQ(out->SendLong(note, 3), 0);

    dev->Open();
    EXPECT_NE(out->SendShort(0x00403C90u), 0);
    EXPECT_NE(out->SendShort(0x3CC5u), 0);
    EXPECT_EQ(out->SendShort(0x40u), 0) << "a data byte as status sends nothing";
    for (int len : {3, 256, 546, 65536})
    {
        std::vector<unsigned char> data(static_cast<size_t>(len), 0x11);
        data.front() = 0xF0;
        data.back() = 0xF7;
        EXPECT_EQ(out->SendLong(data.data(), len), 1) << len << " bytes count as sent, multiples of 256 too";
    }
    EXPECT_EQ(out->SendLong(note, 0), 0);
    EXPECT_EQ(out->SendLong(note, -4), 0);
    const auto sent = factory.SentLog();
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[0].bytes, (std::vector<unsigned char>{0x90, 0x3C, 0x40})) << "status, data1, data2 from the low byte up";
    EXPECT_EQ(sent[1].bytes, (std::vector<unsigned char>{0xC5, 0x3C}));
    EXPECT_EQ(sent[5].bytes.size(), 65536u);

    factory.SetSendFailure(id, SendFailure::Refuse);
    EXPECT_EQ(out->SendLong(note, 3), 0) << "a refused send is not sent";
    dev->Close();
}
