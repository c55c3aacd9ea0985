// The back end as far as it needs no sequencer; the VM test (tests/vm/midi) covers a real one.
#include "FreshProcess.h"

#include "core/TextHelpers.h"
#include "core/TrAutoDelete.h"
#include "core/TrList.h"
#include "midi/MidiManager.h"
#include "midi/MidiPortMac.h"
#include "midi/MidiUtil.h"
#include "platform/HostClock.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <thread>
#include <vector>

#include <unistd.h>

namespace
{
using F = Tr::MidiMacFactory;

// An output whose pacing clock a test drives with its own "now".
class PacedOutput : public Tr::TMidiOutputMac
{
public:
    PacedOutput() : TMidiOutputMac(new Tr::MidiDeviceDescriptor(nullptr, 0, 0, "Synth", "", "", "")) {}
    uint64_t Reserve(uint64_t now, int len) { return ReserveSendTime(now, len); }
};

uint64_t Millis(double ms)
{
    return AudioConvertNanosToHostTime(static_cast<uint64_t>(ms * 1000000.0 + 0.5));
}
} // namespace

TEST(MidiPortMac, DisplayNamesUniqueIdsAndErrorTexts)
{
    EXPECT_EQ(F::DisplayName("Port 1", "XB-2", "Acme"), "XB-2 : Port 1 (Acme)");
    EXPECT_EQ(F::DisplayName("XB-2 Port 1", "XB-2", "Acme"), "XB-2 Port 1 (Acme)") << "name holds the model";
    EXPECT_EQ(F::DisplayName("Acme XB-2", "XB-2", "Acme"), "Acme XB-2") << "name holds model and maker";
    EXPECT_EQ(F::DisplayName("xb-2 port", "XB-2", "ACME"), "xb-2 port (ACME)") << "case is ignored";
    EXPECT_EQ(F::DisplayName("Port", "Acme XB-2", "acme"), "Acme XB-2 : Port") << "maker found in the model in front";
    EXPECT_EQ(F::DisplayName("Midi Through Port-0", "", ""), "Midi Through Port-0");
    EXPECT_EQ(F::DisplayName("Bärbel 1", "", "Bär"), "Bärbel 1") << "UTF-8 names";

    EXPECT_EQ(F::UniqueIdText(0x1A2b), "00001A2B");
    EXPECT_EQ(F::UniqueIdText(INT_MIN), "80000000");
    EXPECT_EQ(F::UniqueIdText(-2), "FFFFFFFE");
    EXPECT_EQ(F::UniqueIdText(0) + F::UniqueIdText(-1), "") << "0 and -1 mean no ID";

    EXPECT_EQ(Tr::midiGetErrorText(-10843), "Attempt to set a non-unique kMIDIPropertyUniqueID on an object.");
    for (long code : {kMIDIErrInvalidClient, kMIDIErrNoConnection, kMIDIErrServerStart, kMIDIErrInvalidPort, kMIDIErrWrongEndpointType, kMIDIErrUnknownEndpoint,
                      kMIDIErrUnknownProperty, kMIDIErrMessageSend, kMIDIErrWrongThread, kMIDIErrObjectNotFound})
        EXPECT_EQ(Tr::midiGetErrorText(code).find("MIDI ERROR"), std::string::npos) << code << " has a text";
    EXPECT_EQ(Tr::midiGetErrorText(kMIDIErrParameter), "MIDI ERROR -50");
    EXPECT_EQ(Tr::midiGetErrorText(-10829), "MIDI ERROR -10829") << "just outside the known range";
    EXPECT_EQ(Tr::midiGetErrorText(-10844), "MIDI ERROR -10844");
}

TEST(MidiPortMac, LongMessagesArePacedAtWireSpeed)
{
    PacedOutput out;
    const uint64_t t0 = Millis(5000);
    EXPECT_EQ(out.Reserve(t0, 546), t0) << "an idle output sends at once";
    EXPECT_EQ(out.Reserve(t0, 546), t0 + Millis(174.72)) << "546 bytes take 174.72 ms on the wire";
    EXPECT_EQ(out.Reserve(t0 + Millis(200), 3), t0 + Millis(349.44)) << "queued behind the second message";
    EXPECT_EQ(out.Reserve(t0 + Millis(1200), 546), t0 + Millis(1200)) << "after a pause: the current time";
    EXPECT_EQ(out.Reserve(t0 + Millis(1200), 1), t0 + Millis(1374.72));

    // Thru sends reserve from a receive thread while the message thread sends: no two messages get
    // overlapping wire time, and none is lost from the clock.
    PacedOutput shared;
    std::vector<uint64_t> stamps[2];
    std::thread threads[2];
    for (int t = 0; t < 2; ++t)
        threads[t] = std::thread([&shared, &mine = stamps[t]] {
            for (int i = 0; i < 2000; ++i)
                mine.push_back(shared.Reserve(0, 3));
        });
    for (std::thread& t : threads)
        t.join();
    std::vector<uint64_t> all = stamps[0];
    all.insert(all.end(), stamps[1].begin(), stamps[1].end());
    std::sort(all.begin(), all.end());
    for (size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(all[i], i * Millis(0.96)) << "message " << i << " of " << all.size();
}

TEST(MidiPortMac, WithoutSequencerNoPortsAndQuietFailures)
{
    if (access("/dev/snd/seq", F_OK) == 0)
        GTEST_SKIP() << "this machine has a sequencer; the virtual-machine test covers it";
    RunInFreshProcess([] {
        juce::ScopedJuceInitialiser_GUI juceInit;
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();

        // The back end registered itself before main and joins the manager without a scan.
        Tr::MidiManager* manager = Tr::MidiManager::instance();
        ASSERT_TRUE(F::IsInstanceAllocated());
        F* factory = F::instance();
        EXPECT_EQ(manager->GetFactory(Tr::PortTypeMIDI), factory);
        EXPECT_EQ(factory->GetTypeName(1), "MIDI Input");
        EXPECT_EQ(factory->GetTypeName(0), "MIDI Output");
        manager->SetSuspended(0);
        EXPECT_EQ(manager->GetDevCount(0) + manager->GetDevCount(1), 0);
        EXPECT_FALSE(manager->SendMessageAllDevs(reinterpret_cast<const unsigned char*>("\x90\x3C\x40"), 3));

        Tr::TList<Tr::MidiDeviceDescriptor*> list;
        list.Add(new Tr::MidiDeviceDescriptor(factory, 0, 0, "Old", "", "", ""));
        factory->recreateCache(0, list);
        EXPECT_EQ(list.Count(), 0) << "stale descriptors are replaced by the empty listing";
        list.Add(new Tr::MidiDeviceDescriptor(factory, 1, 0, "Old", "", "", ""));
        factory->GetDeviceList(1, list);
        EXPECT_EQ(list.Count(), 0) << "a listing of no ports leaves none of the old descriptors";

        // Port objects for ports that are not there fail to open with the service's texts, and
        // then do nothing.
        Tr::MidiDeviceDescriptor keys(factory, 1, 0, "Keys", "", "", "");
        Tr::MidiDeviceDescriptor synth(factory, 0, 0, "Synth", "", "", "");
        std::unique_ptr<Tr::TMidiDeviceBase> in(factory->CreateDevice(&keys));
        std::unique_ptr<Tr::TMidiDeviceBase> out(factory->CreateDevice(&synth));
        auto* input = dynamic_cast<Tr::TMidiInputMac*>(in.get());
        auto* output = dynamic_cast<Tr::TMidiOutputMac*>(out.get());
        ASSERT_TRUE(input && output);
        EXPECT_NE(in->GetDescriptor(), &keys) << "the port object owns a clone";
        EXPECT_EQ(factory->CreateDevice(nullptr), nullptr);
        EXPECT_EQ(ErrorText([&] { in->Open(); }), "Cannot open MIDI input device \"Keys\":");
        EXPECT_EQ(ErrorText([&] { out->Open(); }), "Cannot open MIDI output device \"Synth\":");
        input->Start();
        EXPECT_FALSE(input->IsStarted());
        unsigned char message[546] = {0xF0};
        message[545] = 0xF7;
        EXPECT_EQ(output->SendShort(0x90, 60, 64), 0);
        EXPECT_EQ(output->SendLong(message, 546), 0);
        EXPECT_EQ(output->SendLongWait(message, 546, nullptr), 0);
        EXPECT_EQ(Tr::GetGlobalMidiClientRef(), 0u);

        in.reset();
        out.reset();
        Tr::VuskSystem::shutdown();
        EXPECT_FALSE(F::IsInstanceAllocated());
        const std::string printed = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        EXPECT_EQ(printed, "") << "nothing is printed on a machine without sequencer";
    });
}
