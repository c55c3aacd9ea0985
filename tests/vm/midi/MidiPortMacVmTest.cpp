// The MIDI manager with the real back end on a real sequencer, inside the virtual machine of
// tests/vm/run-in-vm.sh. The manager lives once per process, so all tests here share one, made
// before the first test and shut down after the last.

#include "QuorvaSettings.h"
#include "core/TrAutoDelete.h"
#include "midi/MidiManager.h"
#include "midi/MidiPortMac.h"
#include "platform/AlsaEndpoints.h"
#include "platform/CoreMidi.h"
#include "vm/VmDevices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

using namespace VmDevices;

namespace
{
const double WireMs = 174.72;   // 546 bytes at 3125 bytes per second

// Collects what the inputs receive, message by message, on the receive thread.
class Collector : public Tr::MidiMessageHandler
{
public:
    void OnMidiMessage(int /*deviceIndex*/, unsigned long long /*time*/, unsigned char* data, int len,
                       unsigned char* handled) override
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FMessages.emplace_back(data, data + len);
        *handled = 1;
    }
    std::vector<std::vector<uint8_t>> Take()
    {
        std::lock_guard<std::mutex> lock(FMutex);
        return std::move(FMessages);
    }
    size_t Bytes()
    {
        std::lock_guard<std::mutex> lock(FMutex);
        size_t n = 0;
        for (const auto& m : FMessages)
            n += m.size();
        return n;
    }

private:
    std::mutex FMutex;
    std::vector<std::vector<uint8_t>> FMessages;
};

// Notes when the sequencer last announced a port coming or going.
struct Announcements
{
    uint64_t last = 0;
    int count = 0;
    static void Proc(const MIDINotification*, void* refCon)
    {
        auto* self = static_cast<Announcements*>(refCon);
        self->last = AudioGetCurrentHostTime();
        ++self->count;
    }
};

class ListChanges : public Tr::TMidiDeviceListListener
{
public:
    void OnMidiDeviceListChanged() override { at = AudioGetCurrentHostTime(); }
    uint64_t at = 0;
};

std::vector<uint8_t> SettingsMessage()
{
    QuorvaSettings settings;
    settings.applyGlobalValue(QuorvaSettings::Global::MidiChannel, 9);
    settings.applyProgramValue(3, QuorvaSettings::ProgramField::StepCount, 7);
    std::vector<uint8_t> bytes(QUORVA_TEMPLATE_SIZE_BYTES);
    settings.saveToMem(bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

// Ends the wait of a long send at once.
class StopWaiting : public Tr::TMidiOutWaitCallback
{
public:
    void OnMidiOutWait(Tr::TMidiOutputBase*, unsigned char* continueWait) override
    {
        ++calls;
        *continueWait = 0;
    }
    int calls = 0;
};
} // namespace

class ManagerInVm : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!InVm())
            return;
        juceInit = new juce::ScopedJuceInitialiser_GUI();
        manager = Tr::MidiManager::instance();
        manager->SetMessageHandler(&collector);
        manager->SetSuspended(0);
    }

    static void TearDownTestSuite()
    {
        if (manager == nullptr)
            return;
        manager->SetMessageHandler(nullptr);
        Tr::VuskSystem::shutdown();
        manager = nullptr;
        delete juceInit;
        juceInit = nullptr;
    }

    void SetUp() override
    {
        REQUIRE_VM();
        ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
        // Ports of the card may have come back since the last listing.
        manager->RefreshDevList(0);
    }

    void TearDown() override
    {
        if (manager != nullptr)
            Tr::MidiManager::CloseAll(1);
    }

    // Index of the present entry of that name, or -1.
    static int Present(const char* name, unsigned char isInput)
    {
        const int id = manager->GetDevIndex(name, isInput);
        Tr::MidiManagerDev* entry = manager->GetDevDescriptor(id, isInput);
        return entry != nullptr && entry->Exists() ? id : -1;
    }

    static std::vector<std::string> PresentNames(unsigned char isInput)
    {
        std::vector<std::string> names;
        for (int i = 0; i < manager->GetDevCount(isInput); ++i)
            if (manager->GetDevDescriptor(i, isInput)->Exists())
                names.push_back(manager->GetDevDescriptor(i, isInput)->GetName());
        return names;
    }

    static juce::ScopedJuceInitialiser_GUI* juceInit;
    static Tr::MidiManager* manager;
    static Collector collector;
};

juce::ScopedJuceInitialiser_GUI* ManagerInVm::juceInit = nullptr;
Tr::MidiManager* ManagerInVm::manager = nullptr;
Collector ManagerInVm::collector;

TEST_F(ManagerInVm, PortsAreListedUnderTheirNames)
{
    ASSERT_TRUE(Tr::MidiMacFactory::IsInstanceAllocated()) << "the back end joined the manager by itself";
    EXPECT_EQ(manager->GetFactory(Tr::PortTypeMIDI), Tr::MidiMacFactory::instance());
    for (unsigned char isInput : {0, 1})
    {
        const std::vector<std::string> names = PresentNames(isInput);
        const std::vector<std::string> expected = {ThroughPort, "VirMIDI 0-0", "VirMIDI 0-1", "VirMIDI 0-2",
                                                   "VirMIDI 0-3"};
        EXPECT_EQ(names, expected) << (isInput ? "inputs" : "outputs") << ": in sequencer order, ours left out";
    }

    // The card's port carries the unique IDs of its port and its card as hex text.
    const int id = Present(VirmidiPort, 1);
    ASSERT_GE(id, 0);
    const Tr::MidiDeviceDescriptor* d = manager->GetDevDescriptor(id, 1)->GetDescriptor();
    EXPECT_EQ(d->GetType(), Tr::PortTypeMIDI);
    EXPECT_EQ(d->FSerial, Tr::MidiMacFactory::UniqueIdText(Alsa::StableUniqueId(
                              Alsa::ObjectKind::Entity, "Virtual Raw MIDI 0-0", VirmidiPort)));
    EXPECT_EQ(d->FInterfaceName, Tr::MidiMacFactory::UniqueIdText(Alsa::StableUniqueId(
                                     Alsa::ObjectKind::Device, "Virtual Raw MIDI 0-0", "")));
    EXPECT_EQ(d->FSerial.size(), 8u);
    std::printf("VirMIDI 0-0: port ID %s, card ID %s\n", d->FSerial.c_str(), d->FInterfaceName.c_str());
}

TEST_F(ManagerInVm, SettingsMessageArrivesByteExact)
{
    const int id = Present(VirmidiPort, 0);
    ASSERT_GE(id, 0);
    RawMidi raw(RawDevice, O_RDONLY);
    ASSERT_TRUE(raw.IsOpen());
    manager->Open(id, 0, 1);
    ASSERT_TRUE(manager->GetDevDescriptor(id, 0)->IsOpen());

    const std::vector<uint8_t> settings = SettingsMessage();
    ASSERT_EQ(settings.size(), 546u);
    ASSERT_TRUE(manager->SendMessageAllDevs(settings.data(), static_cast<int>(settings.size())));
    const std::vector<uint8_t> arrived = raw.Read(settings.size(), 5000);
    EXPECT_EQ(arrived.size(), settings.size());
    EXPECT_TRUE(arrived == settings) << "the settings message arrives unchanged";

    // Short messages go paced too; a data byte in status place sends nothing.
    const uint8_t note[3] = {0x90, 60, 100};
    ASSERT_TRUE(manager->SendMessageAllDevs(note, 3));
    EXPECT_EQ(raw.Read(3, 3000), std::vector<uint8_t>(note, note + 3));
    auto* output = static_cast<Tr::TMidiOutputMac*>(manager->GetMidiOutputByIndex(id));
    EXPECT_EQ(output->SendShort(0x403C10u), 0);
    EXPECT_EQ(output->SendShort(0xB0, 7, 99), 1);
    EXPECT_EQ(raw.Read(3, 3000), (std::vector<uint8_t>{0xB0, 7, 99}));
    EXPECT_TRUE(raw.Read(1, 300).empty()) << "nothing else came";
}

TEST_F(ManagerInVm, BackToBackSendsArePacedAtWireSpeed)
{
    const int id = Present(VirmidiPort, 0);
    ASSERT_GE(id, 0);
    RawMidi raw(RawDevice, O_RDONLY);
    manager->Open(id, 0, 1);
    const std::vector<uint8_t> settings = SettingsMessage();
    const int len = static_cast<int>(settings.size());

    const uint64_t start = AudioGetCurrentHostTime();
    ASSERT_TRUE(manager->SendMessageAllDevs(settings.data(), len));
    ASSERT_TRUE(manager->SendMessageAllDevs(settings.data(), len));
    const double callsMs = Millis(AudioGetCurrentHostTime() - start);
    uint64_t first = 0;
    uint64_t second = 0;
    EXPECT_TRUE(raw.Read(settings.size(), 5000, &first) == settings);
    EXPECT_TRUE(raw.Read(settings.size(), 5000, &second) == settings);
    const double gap = Millis(second - first);
    std::printf("two 546-byte sends: calls took %.3f ms, arrivals %.2f ms apart (%.3f of %.2f ms)\n", callsMs, gap,
                gap / WireMs, WireMs);
    EXPECT_LT(callsMs, WireMs / 2) << "the sender does not wait for the wire";
    EXPECT_GE(Millis(second - start), WireMs) << "the second message waits for the first one's wire time";
    EXPECT_NEAR(gap, WireMs, WireMs * 0.1);
}

TEST_F(ManagerInVm, SysexSendThatWaitsHandsItsRequestOver)
{
    const int id = Present(VirmidiPort, 0);
    ASSERT_GE(id, 0);
    RawMidi raw(RawDevice, O_RDONLY);
    manager->Open(id, 0, 1);
    auto* output = static_cast<Tr::TMidiOutputMac*>(manager->GetMidiOutputByIndex(id));
    std::vector<uint8_t> settings = SettingsMessage();

    const uint64_t start = AudioGetCurrentHostTime();
    EXPECT_EQ(output->SendLongWait(settings.data(), 546, nullptr), 546);
    const double waited = Millis(AudioGetCurrentHostTime() - start);
    EXPECT_TRUE(raw.Read(546, 5000) == settings);
    EXPECT_GT(waited, WireMs * 0.5) << "the call waits for the transfer";
    std::printf("SendLongWait of 546 bytes returned after %.1f ms\n", waited);

    // A caller that stops waiting leaves the block to the completion routine; the bytes still go.
    StopWaiting stop;
    const std::vector<uint8_t> sent = settings;
    EXPECT_EQ(output->SendLongWait(settings.data(), 546, &stop), 546);
    std::fill(settings.begin(), settings.end(), 0);   // the service sends its own copy
    EXPECT_EQ(stop.calls, 1);
    EXPECT_TRUE(raw.Read(546, 5000) == sent);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));   // completion after the last byte
}

TEST_F(ManagerInVm, IncomingSysexReachesTheMessageHandlerByteExact)
{
    const int id = Present(VirmidiPort, 1);
    ASSERT_GE(id, 0);
    manager->Open(id, 1, 1);
    ASSERT_TRUE(static_cast<Tr::TMidiInputBase*>(manager->GetMidiInputByIndex(id))->IsStarted());
    collector.Take();

    RawMidi raw(RawDevice, O_WRONLY);
    ASSERT_TRUE(raw.IsOpen());
    const std::vector<uint8_t> dump = Sysex(4000, 5);
    ASSERT_TRUE(raw.Write(dump));
    EXPECT_TRUE(WaitFor([] { return collector.Bytes() >= 4000; }, 10000));
    const std::vector<std::vector<uint8_t>> pieces = collector.Take();
    std::vector<uint8_t> joined;
    for (const auto& piece : pieces)
        joined.insert(joined.end(), piece.begin(), piece.end());
    EXPECT_TRUE(joined == dump) << joined.size() << " bytes in " << pieces.size() << " pieces";
    std::printf("4000 bytes of SysEx reached the handler in %zu pieces\n", pieces.size());

    // Short messages that arrive together are cut apart.
    ASSERT_TRUE(raw.Write({0x90, 64, 1, 0xC0, 5, 0xB0, 1, 2}));
    EXPECT_TRUE(WaitFor([] { return collector.Bytes() >= 8; }, 5000));
    const std::vector<std::vector<uint8_t>> shorts = collector.Take();
    EXPECT_EQ(shorts, (std::vector<std::vector<uint8_t>>{{0x90, 64, 1}, {0xC0, 5}, {0xB0, 1, 2}}));

    manager->Close(id, 1, 1, 0);
    ASSERT_TRUE(raw.Write({0x90, 65, 1}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(collector.Bytes(), 0u) << "a closed input hears nothing";
}

TEST_F(ManagerInVm, CardPortsComeAndGoWithTheModule)
{
    Announcements heard;
    MIDIClientRef listener = 0;
    ASSERT_EQ(MIDIClientCreate(SysString("announcement probe").get(), &Announcements::Proc, &heard, &listener), 0);
    ListChanges changes;
    manager->AddDevListChangeListener(&changes);
    ASSERT_GE(Present(VirmidiPort, 0), 0);

    // No port of ours holds the card, so it can go.
    ASSERT_TRUE(Module("unload", "snd-virmidi"));
    EXPECT_TRUE(PumpUntil([] { return Present(VirmidiPort, 0) < 0 && Present(VirmidiPort, 1) < 0; }, 6000))
        << "the card's ports vanish";
    ASSERT_GT(heard.count, 0);
    const double goneAfter = Millis(changes.at - heard.last);
    std::printf("card unloaded: %d announcements, list changed %.0f ms after the last\n", heard.count, goneAfter);
    const std::vector<std::string> left = PresentNames(0);
    EXPECT_NE(std::find(left.begin(), left.end(), ThroughPort), left.end()) << "other ports stay";

    heard = Announcements{};
    changes.at = 0;
    ASSERT_TRUE(Module("load", "snd-virmidi"));
    EXPECT_TRUE(PumpUntil([] { return Present(VirmidiPort, 0) >= 0 && Present(VirmidiPort, 1) >= 0; }, 6000))
        << "the card's ports appear";
    ASSERT_GT(heard.count, 0);
    const double cameAfter = Millis(changes.at - heard.last);
    std::printf("card loaded: %d announcements, list changed %.0f ms after the last\n", heard.count, cameAfter);
    // The notifier waits 2000 ms after the last announcement of a burst, then lists once.
    EXPECT_GE(cameAfter, 1500.0);
    EXPECT_LE(cameAfter, 3000.0);
    EXPECT_GE(goneAfter, 1500.0);
    EXPECT_LE(goneAfter, 3000.0);
    EXPECT_EQ(PresentNames(1).size(), 5u);

    manager->RemoveDevListChangeListener(&changes);
    EXPECT_EQ(MIDIClientDispose(listener), 0);
}
