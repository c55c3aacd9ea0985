// The MIDI manager with the real back end on a real sequencer, in the VM of tests/vm/run-in-vm.sh.
// The manager lives once per process, so all tests here share one, made before the first test and
// shut down after the last.

#include "QuorvaSettings.h"
#include "core/TrAutoDelete.h"
#include "midi/MidiAlias.h"
#include "midi/MidiManager.h"
#include "midi/MidiPortMac.h"
#include "midi/MidiRouter.h"
#include "platform/AlsaEndpoints.h"
#include "platform/CoreMidi.h"
#include "vm/VmDevices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

using namespace VmDevices;

namespace
{
const double WireMs = 174.72;   // 546 bytes at 3125 bytes per second

// Collects what the inputs receive, message by message, on the receive thread.
class Collector : public Tr::MidiMessageHandler
{
public:
    void OnMidiMessage(int, unsigned long long, unsigned char* data, int len, unsigned char* handled) override
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FMessages.emplace_back(data, data + len);
        bytes += static_cast<size_t>(len);
        *handled = passOn ? 0 : 1;
    }
    std::vector<std::vector<uint8_t>> Take()
    {
        std::lock_guard<std::mutex> lock(FMutex);
        bytes = 0;
        return std::exchange(FMessages, {});
    }
    std::atomic<size_t> bytes{0};
    std::atomic<bool> passOn{false};   // leaves each message to the input's thru list

private:
    std::mutex FMutex;
    std::vector<std::vector<uint8_t>> FMessages;
};

std::unique_ptr<juce::ScopedJuceInitialiser_GUI> juceInit;
Tr::MidiManager* manager = nullptr;
Collector collector;

// Index of the present entry of that name, or -1.
int Present(const char* name, unsigned char isInput)
{
    const int id = manager->GetDevIndex(name, isInput);
    Tr::MidiManagerDev* entry = manager->GetDevDescriptor(id, isInput);
    return entry != nullptr && entry->Exists() ? id : -1;
}

std::vector<std::string> PresentNames(unsigned char isInput)
{
    std::vector<std::string> names;
    for (int i = 0; i < manager->GetDevCount(isInput); ++i)
        if (manager->GetDevDescriptor(i, isInput)->Exists())
            names.push_back(manager->GetDevDescriptor(i, isInput)->GetName());
    return names;
}

std::vector<uint8_t> SettingsMessage()
{
    QuorvaSettings settings;
    settings.applyGlobalValue(QuorvaSettings::Global::MidiChannel, 9);
    settings.applyProgramValue(3, QuorvaSettings::ProgramField::StepCount, 7);
    std::vector<uint8_t> bytes(QUORVA_TEMPLATE_SIZE_BYTES);
    settings.saveToMem(bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}
} // namespace

class ManagerInVm : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!InVm())
            return;
        juceInit = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
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
        juceInit.reset();
    }

    void SetUp() override
    {
        REQUIRE_VM();
        ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
        manager->RefreshDevList(0);   // the card's ports may have come back since the last listing
    }

    void TearDown() override
    {
        if (manager != nullptr)
            Tr::MidiManager::CloseAll(1);
    }

    // Lists the ports again and opens the output of that name; nullptr when it is not there.
    static Tr::TMidiOutputMac* OpenOutput(const char* name)
    {
        manager->RefreshDevList(0);
        const int id = Present(name, 0);
        if (id < 0)
            return nullptr;
        manager->Open(id, 0, 1);
        return static_cast<Tr::TMidiOutputMac*>(manager->GetMidiOutputByIndex(id));
    }

    // Opens the card's output and, as raw, the raw device that reads what arrives there.
    Tr::TMidiOutputMac* OpenCardOutput()
    {
        return raw.emplace(RawDevice, O_RDONLY).IsOpen() ? OpenOutput(VirmidiPort) : nullptr;
    }

    bool SendSettings() const { return manager->SendMessageAllDevs(settings.data(), 546); }
    bool Reaches(OtherProgram& program) const { return SendSettings() && program.Heard(546, 5000) == 546; }

    std::optional<RawMidi> raw;
    const std::vector<uint8_t> settings = SettingsMessage();
};

TEST_F(ManagerInVm, PortsAreListedUnderTheirNamesWithUniqueIds)
{
    EXPECT_EQ(manager->GetFactory(Tr::PortTypeMIDI), Tr::MidiMacFactory::instance()) << "the back end joined";
    const std::vector<std::string> expected = {ThroughPort, "VirMIDI 0-0", "VirMIDI 0-1", "VirMIDI 0-2", "VirMIDI 0-3"};
    EXPECT_EQ(PresentNames(0), expected) << "outputs in sequencer order, ours left out";
    EXPECT_EQ(PresentNames(1), expected) << "inputs in sequencer order, ours left out";

    // The card's port carries the unique IDs of its port and its card as hex text.
    const int id = Present(VirmidiPort, 1);
    ASSERT_GE(id, 0);
    const Tr::MidiDeviceDescriptor* d = manager->GetDevDescriptor(id, 1)->GetDescriptor();
    const auto idText = [](Alsa::ObjectKind kind, const char* port) {
        return Tr::MidiMacFactory::UniqueIdText(Alsa::StableUniqueId(kind, "Virtual Raw MIDI 0-0", port));
    };
    EXPECT_EQ(d->FSerial, idText(Alsa::ObjectKind::Entity, VirmidiPort));
    EXPECT_EQ(d->FInterfaceName, idText(Alsa::ObjectKind::Device, ""));
}

TEST_F(ManagerInVm, SettingsMessagesArriveByteExactPacedAtWireSpeed)
{
    Tr::TMidiOutputMac* output = OpenCardOutput();
    ASSERT_NE(output, nullptr);
    ASSERT_EQ(settings.size(), 546u);
    const int len = static_cast<int>(settings.size());
    // Short messages go too. The first send opens the card's device, which the timing below leaves out.
    const uint8_t note[3] = {0x90, 60, 100};
    ASSERT_TRUE(manager->SendMessageAllDevs(note, 3));
    EXPECT_EQ(raw->Read(3, 3000), std::vector<uint8_t>(note, note + 3));
    // Every second message waits for the first one's wire time; a guest that stalls a timer may
    // stretch one gap, so the gap need be close to the wire time for one of three pairs only.
    double gap = 0;
    for (int attempt = 0; attempt < 3 && std::abs(gap - WireMs) > WireMs * 0.1; ++attempt)
    {
        const uint64_t start = AudioGetCurrentHostTime();
        ASSERT_TRUE(manager->SendMessageAllDevs(settings.data(), len));
        ASSERT_TRUE(manager->SendMessageAllDevs(settings.data(), len));
        const double callsMs = Millis(AudioGetCurrentHostTime() - start);
        uint64_t first = 0;
        uint64_t second = 0;
        EXPECT_TRUE(raw->Read(settings.size(), 5000, &first) == settings) << "the settings message arrives unchanged";
        EXPECT_TRUE(raw->Read(settings.size(), 5000, &second) == settings);
        gap = Millis(second - first);
        std::printf("two 546-byte sends: calls took %.3f ms, arrivals %.2f ms apart\n", callsMs, gap);
        EXPECT_LT(callsMs, WireMs / 2) << "the sender does not wait for the wire";
        EXPECT_GE(Millis(second - start), WireMs) << "the second message came early";
    }
    EXPECT_NEAR(gap, WireMs, WireMs * 0.1);

    // A data byte in status place sends nothing.
    EXPECT_EQ(output->SendShort(0x403C10u), 0);
    EXPECT_EQ(output->SendShort(0xB0, 7, 99), 1);
    EXPECT_EQ(raw->Read(3, 3000), (std::vector<uint8_t>{0xB0, 7, 99}));
    EXPECT_TRUE(raw->Read(1, 300).empty()) << "nothing else came";
}

TEST_F(ManagerInVm, SysexSendThatWaitsHandsItsRequestOver)
{
    Tr::TMidiOutputMac* output = OpenCardOutput();
    ASSERT_NE(output, nullptr);
    std::vector<uint8_t> message = settings;
    const uint64_t start = AudioGetCurrentHostTime();
    EXPECT_EQ(output->SendLongWait(message.data(), 546, nullptr), 546);
    EXPECT_GT(Millis(AudioGetCurrentHostTime() - start), WireMs * 0.5) << "the call waits for the transfer";
    EXPECT_TRUE(raw->Read(546, 5000) == settings);

    // A caller that stops waiting leaves the block to the completion routine; the bytes still go.
    struct StopWaiting : Tr::TMidiOutWaitCallback
    {
        int calls = 0;
        void OnMidiOutWait(Tr::TMidiOutputBase*, unsigned char* continueWait) override
        {
            ++calls;
            *continueWait = 0;
        }
    } stop;
    EXPECT_EQ(output->SendLongWait(message.data(), 546, &stop), 546);
    std::fill(message.begin(), message.end(), 0);   // the service sends its own copy
    EXPECT_EQ(stop.calls, 1);
    EXPECT_TRUE(raw->Read(546, 5000) == settings);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));   // completion after the last byte
}

TEST_F(ManagerInVm, IncomingSysexReachesTheMessageHandlerByteExact)
{
    const int id = Present(VirmidiPort, 1);
    ASSERT_GE(id, 0);
    manager->Open(id, 1, 1);
    ASSERT_TRUE(static_cast<Tr::TMidiInputBase*>(manager->GetMidiInputByIndex(id))->IsStarted());
    collector.Take();

    RawMidi card(RawDevice, O_WRONLY);
    const std::vector<uint8_t> dump = Sysex(4000, 5);
    ASSERT_TRUE(card.Write(dump));
    EXPECT_TRUE(WaitFor([] { return collector.bytes >= 4000; }, 10000));
    std::vector<uint8_t> joined;
    for (const auto& piece : collector.Take())
        joined.insert(joined.end(), piece.begin(), piece.end());
    EXPECT_TRUE(joined == dump) << joined.size() << " bytes came";

    // Short messages that arrive together are cut apart.
    ASSERT_TRUE(card.Write({0x90, 64, 1, 0xC0, 5, 0xB0, 1, 2}));
    EXPECT_TRUE(WaitFor([] { return collector.bytes >= 8; }, 5000));
    EXPECT_EQ(collector.Take(), (std::vector<std::vector<uint8_t>>{{0x90, 64, 1}, {0xC0, 5}, {0xB0, 1, 2}}));

    manager->Close(id, 1, 1, 0);
    ASSERT_TRUE(card.Write({0x90, 65, 1}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(collector.bytes, 0u) << "a closed input hears nothing";
}

namespace
{
// A thru route from the card's input to its output while it lives; meanwhile the collector leaves
// what it hears to the thru lists.
struct CardThru
{
    CardThru()
    {
        aliases->AddAlias("Thru in", VirmidiPort, Tr::aliasMidiIn);
        aliases->AddAlias("Thru out", VirmidiPort, Tr::aliasMidiOut);
        Tr::TMidiRouter::instance()->AddRoute(aliases->GetAliasByName("Thru in", Tr::aliasMidiIn, false),
                                              aliases->GetAliasByName("Thru out", Tr::aliasMidiOut, false));
        collector.passOn = true;
    }
    ~CardThru()
    {
        collector.passOn = false;
        // The router drops the route with its aliases.
        aliases->RemoveAlias(aliases->IndexOf("Thru in", Tr::aliasMidiIn));
        aliases->RemoveAlias(aliases->IndexOf("Thru out", Tr::aliasMidiOut));
    }
    Tr::TMidiAliasManager* const aliases = Tr::TMidiAliasManager::instance();
};
} // namespace

TEST_F(ManagerInVm, SysexOfAnyLengthGoesOutWhole)
{
    Tr::TMidiOutputMac* output = OpenCardOutput();
    ASSERT_NE(output, nullptr);
    const int outId = Present(VirmidiPort, 0);
    // The shortest SysEx messages, through the manager and packed into one value at the port.
    for (const std::vector<uint8_t>& whole : {std::vector<uint8_t>{0xF0, 0x7D, 0xF7}, std::vector<uint8_t>{0xF0, 0xF7}})
    {
        const int len = static_cast<int>(whole.size());
        EXPECT_TRUE(manager->SendMessage(outId, whole.data(), len)) << len;
        EXPECT_EQ(raw->Read(whole.size(), 3000), whole) << len << " bytes through the manager";
        const unsigned int packed = whole[0] | whole[1] << 8 | (len == 3 ? whole[2] << 16 : 0);
        EXPECT_EQ(output->SendShort(packed), 1) << len;
        EXPECT_EQ(raw->Read(whole.size(), 3000), whole) << len << " bytes packed";
    }

    // The card hands an incoming 258-byte SysEx on in two pieces, 256 and 2 bytes; the thru list
    // passes both on to the card's output.
    const int inId = Present(VirmidiPort, 1);
    ASSERT_GE(inId, 0);
    CardThru thru;
    manager->Open(inId, 1, 1);
    ASSERT_EQ(static_cast<Tr::MMDevIn*>(manager->GetDevDescriptor(inId, 1))->GetThruList().Count(), 1);
    RawMidi card(RawDevice, O_WRONLY);
    const std::vector<uint8_t> dump = Sysex(258, 3);
    ASSERT_TRUE(card.Write(dump));
    EXPECT_TRUE(raw->Read(dump.size(), 5000) == dump) << "the thru port gets the SysEx whole";
    EXPECT_TRUE(WaitFor([] { return collector.bytes >= 258; }, 5000));
    EXPECT_EQ(collector.Take().size(), 2u) << "it came in two pieces";

    ASSERT_TRUE(SendSettings());
    EXPECT_TRUE(raw->Read(546, 5000) == settings) << "a SEND afterwards arrives byte-exact";
    const uint8_t strayEnd[] = {0x12, 0xF7};
    EXPECT_FALSE(manager->SendMessage(outId, strayEnd, 2)) << "an end whose start never came is not sent";
    EXPECT_TRUE(raw->Read(1, 300).empty()) << "nothing else came";
}

TEST_F(ManagerInVm, CardPortsComeAndGoWithTheModule)
{
    // What the sequencer announced to a client, when it last did, and whether off the message thread.
    struct Notes
    {
        std::vector<int> ids;
        uint64_t at = 0;
        bool offThread = false;
        std::thread::id messageThread = std::this_thread::get_id();
        bool Has(int id) const { return std::find(ids.begin(), ids.end(), id) != ids.end(); }
    } notes, disposed;
    const MIDINotifyProc proc = [](const MIDINotification* message, void* refCon) {
        auto* self = static_cast<Notes*>(refCon);
        self->offThread = self->offThread || std::this_thread::get_id() != self->messageThread;
        self->ids.push_back(message->messageID);
        self->at = AudioGetCurrentHostTime();
    };
    // A client disposed of at once, before the probe is there to see it go.
    MIDIClientRef gone = 0;
    ASSERT_EQ(MIDIClientCreate(SysString("disposed probe").get(), proc, &disposed, &gone), 0);
    ASSERT_EQ(MIDIClientDispose(gone), 0);
    MIDIClientRef probe = 0;
    ASSERT_EQ(MIDIClientCreate(SysString("announcement probe").get(), proc, &notes, &probe), 0);
    struct ListChanges : Tr::TMidiDeviceListListener
    {
        uint64_t at = 0;
        void OnMidiDeviceListChanged() override { at = AudioGetCurrentHostTime(); }
    } changes;
    manager->AddDevListChangeListener(&changes);
    ASSERT_GE(Present(VirmidiPort, 0), 0);   // no port of ours holds the card, so it can go

    // The notifier lists once, 2000 ms after the last announcement of a burst.
    for (const char* action : {"unload", "load"})
    {
        const bool load = action[0] == 'l';
        notes.ids.clear();
        changes.at = 0;
        ASSERT_TRUE(Module(action, "snd-virmidi"));
        const auto done = [load] {
            return (Present(VirmidiPort, 0) >= 0) == load && (Present(VirmidiPort, 1) >= 0) == load;
        };
        EXPECT_TRUE(WaitFor(done, 6000, true)) << "the card's ports " << (load ? "appear" : "vanish");
        EXPECT_TRUE(notes.Has(load ? kMIDIMsgObjectAdded : kMIDIMsgObjectRemoved)) << action;
        EXPECT_FALSE(notes.Has(load ? kMIDIMsgObjectRemoved : kMIDIMsgObjectAdded)) << action;
        const double after = Millis(changes.at - notes.at);
        std::printf("%s: list changed %.0f ms after the last announcement\n", action, after);
        EXPECT_GE(after, 1500.0) << action;
        EXPECT_LE(after, 3000.0) << action;
        EXPECT_EQ(PresentNames(1).size(), load ? 5u : 1u) << "other ports stay";
    }
    manager->RemoveDevListChangeListener(&changes);
    EXPECT_FALSE(notes.offThread) << "notifications arrive on the message thread";
    EXPECT_TRUE(disposed.ids.empty()) << "a client disposed of hears nothing";
    EXPECT_EQ(MIDIClientDispose(probe), 0);
}

TEST_F(ManagerInVm, ASendReachesOnlyThePortItWasOpenedFor)
{
    auto alpha = std::make_unique<OtherProgram>("Alpha");
    Tr::TMidiOutputMac* output = OpenOutput("Alpha");
    ASSERT_NE(output, nullptr);
    ASSERT_TRUE(Reaches(*alpha));
    // Four more: all but the first wait in the queue for their wire time when Alpha's program ends
    // and Beta's starts on the same address before the next listing.
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(SendSettings());
    const int address = alpha->Client();
    alpha.reset();
    OtherProgram beta("Beta");
    ASSERT_EQ(beta.Client(), address) << "the sequencer hands the freed client number on";
    EXPECT_FALSE(SendSettings());
    EXPECT_THROW(output->SendShort(0xB0, 7, 99), Tr::EMidiError);
    std::vector<uint8_t> message = settings;
    EXPECT_EQ(output->SendLongWait(message.data(), 546, nullptr), 0) << "the SysEx request breaks off";
    EXPECT_EQ(beta.Heard(1, 2000), 0u) << "Beta hears nothing meant for Alpha, what waited neither";

    EXPECT_TRUE(WaitFor([] { return Present("Beta", 0) >= 0; }, 6000, true)) << "the next listing";
    EXPECT_LT(Present("Alpha", 0), 0) << "finds Alpha gone";
}

namespace
{
// Counts the refreshes that tell the device-list listeners (each one the notifier runs does).
struct RefreshCounter : Tr::TMidiDeviceListListener
{
    RefreshCounter() { manager->AddDevListChangeListener(this); }
    ~RefreshCounter() { manager->RemoveDevListChangeListener(this); }
    RefreshCounter(const RefreshCounter&) = delete;
    RefreshCounter& operator=(const RefreshCounter&) = delete;
    void OnMidiDeviceListChanged() override { ++count; }

    // Runs the message loop until the notifier's refresh after the latest announcements has run.
    bool AwaitNext()
    {
        const int before = count;
        return WaitFor([this, before] { return count > before; }, 8000, true);
    }
    int count = 0;
};

} // namespace

TEST_F(ManagerInVm, OpeningWithinTheDebounceOpensTheChosenPortNotTheOneAtItsOldIndex)
{
    auto a = std::make_unique<OtherProgram>("Alpha");
    OtherProgram controller("Controller");
    OtherProgram b("Bravo");
    manager->RefreshDevList(0);
    const int chosen = Present("Controller", 0);
    const int gone = Present("Alpha", 0);
    ASSERT_GE(chosen, 0);
    ASSERT_GE(gone, 0);

    // Alpha is unplugged; before the next listing the user picks the controller, whose stored
    // index now names Bravo's port.
    a.reset();
    manager->Open(chosen, 0, 1);
    ASSERT_TRUE(manager->GetDevDescriptor(chosen, 0)->IsOpen());
    EXPECT_TRUE(Reaches(controller)) << "the chosen port gets the settings";
    EXPECT_EQ(b.Heard(1, 500), 0u) << "the port at its old index gets nothing";

    // The port that went is refused like one that is not plugged in.
    Tr::MidiManager::CloseAll(1);
    try
    {
        manager->Open(gone, 0, 1);
        ADD_FAILURE() << "a port that went opened";
    }
    catch (const Tr::Exception& e)
    {
        EXPECT_STREQ(e.what(), "Cannot open MIDI output device \"Alpha\":");
    }
    EXPECT_FALSE(manager->GetDevDescriptor(gone, 0)->IsOpen());
    EXPECT_EQ(controller.Heard(1, 300) + b.Heard(1, 300), 0u);
}

TEST_F(ManagerInVm, AChosenPortThatComesBackAtAnotherAddressIsReopened)
{
    RefreshCounter refreshes;
    auto gamma = std::make_unique<OtherProgram>("Gamma");
    ASSERT_NE(OpenOutput("Gamma"), nullptr);
    ASSERT_TRUE(Reaches(*gamma));
    const int id = Present("Gamma", 0);

    // Slow: the refresh sees Gamma gone before it comes back. Quick: gone and back within one
    // debounce, so the port stays listed. Each time another program takes its old address; the
    // quick one lists no port, so that nothing else in the list changes.
    std::vector<std::unique_ptr<OtherProgram>> fillers;
    for (const char* restart : {"slow restart", "quick restart"})
    {
        const bool slow = restart[0] == 's';
        const int address = gamma->Client();
        gamma.reset();
        if (slow)
        {
            ASSERT_TRUE(refreshes.AwaitNext());
            EXPECT_LT(Present("Gamma", 0), 0);
        }
        fillers.push_back(std::make_unique<OtherProgram>(restart, slow));
        gamma = std::make_unique<OtherProgram>("Gamma");
        ASSERT_EQ(fillers.back()->Client(), address);
        ASSERT_TRUE(refreshes.AwaitNext());
        EXPECT_TRUE(manager->GetDevDescriptor(id, 0)->IsOpen()) << restart;
        EXPECT_TRUE(Reaches(*gamma)) << restart;
        for (const auto& filler : fillers)
            EXPECT_EQ(filler->Heard(1, 300), 0u) << restart;
    }
}

TEST_F(ManagerInVm, TwoProgramsThatSwapAddressesEachKeepTheirSends)
{
    RefreshCounter refreshes;
    auto papa = std::make_unique<OtherProgram>("Papa");
    auto quebec = std::make_unique<OtherProgram>("Quebec");
    ASSERT_NE(OpenOutput("Papa"), nullptr);
    ASSERT_TRUE(Reaches(*papa));

    for (const char* chosen : {"Papa", "Quebec"})
    {
        // Both restart at once, each at the address the other had.
        const int papaAddress = papa->Client();
        const int quebecAddress = quebec->Client();
        const bool papaFirst = papaAddress > quebecAddress;
        papa.reset();
        quebec.reset();
        if (papaFirst)
            papa = std::make_unique<OtherProgram>("Papa");
        quebec = std::make_unique<OtherProgram>("Quebec");
        if (!papaFirst)
            papa = std::make_unique<OtherProgram>("Papa");
        ASSERT_EQ(papa->Client(), quebecAddress);
        ASSERT_EQ(quebec->Client(), papaAddress);
        ASSERT_TRUE(refreshes.AwaitNext());

        OtherProgram& to = chosen[0] == 'P' ? *papa : *quebec;
        OtherProgram& other = chosen[0] == 'P' ? *quebec : *papa;
        EXPECT_TRUE(Reaches(to)) << chosen;
        EXPECT_EQ(other.Heard(1, 300), 0u) << chosen;

        if (chosen[0] == 'P')
        {
            // The user chooses the other program for the next round.
            Tr::MidiManager::CloseAll(1);
            ASSERT_NE(OpenOutput("Quebec"), nullptr);
            ASSERT_TRUE(Reaches(*quebec));
        }
    }
}

// ---- A receiving program that stops reading -----------------------------------------------

TEST_F(ManagerInVm, AReceiverThatStopsReadingNeitherBlocksNorSpoilsNorHoldsBackLaterSends)
{
    auto slow = std::make_unique<OtherProgram>("Slow");
    Tr::TMidiOutputMac* output = OpenOutput("Slow");
    ASSERT_NE(output, nullptr);
    ASSERT_TRUE(Reaches(*slow)) << "it reads while it runs";

    // It reads nothing for a while: of 20 SENDs back to back, most wait in our queue for their wire
    // time; those its input could no longer hold besides the ones waiting are refused.
    std::vector<uint8_t> accepted;
    int sends = 0;
    for (uint8_t i = 0; i < 20; ++i)
    {
        const std::vector<uint8_t> message = Sysex(546, i);
        if (manager->SendMessageAllDevs(message.data(), 546))
        {
            accepted.insert(accepted.end(), message.begin(), message.end());
            ++sends;
        }
        else if (i == 0)
            ADD_FAILURE() << "the first SEND into an empty input is refused";
    }
    EXPECT_LT(sends, 20) << "its input never filled";
    std::printf("a receiver that stopped reading: %d of 20 SENDs accepted\n", sends);

    // SEND's road and the waiting SysEx road: each call reports the failure within a second.
    std::vector<uint8_t> message = settings;
    for (int i = 0; i < 50; ++i)
    {
        uint64_t start = AudioGetCurrentHostTime();
        EXPECT_FALSE(SendSettings()) << "SEND tells of the failure (its error box), " << i;
        ASSERT_LT(MillisSince(start), 1000.0) << "SEND " << i;
        start = AudioGetCurrentHostTime();
        EXPECT_EQ(output->SendLongWait(message.data(), 546, nullptr), 0) << "SysEx " << i;
        ASSERT_LT(MillisSince(start), 1000.0) << "SysEx " << i;
    }

    // A healthy port gets the message whole, through SEND and through the port alone, while the
    // receiver still reads nothing.
    Tr::TMidiOutputMac* card = OpenCardOutput();
    ASSERT_NE(card, nullptr);
    ASSERT_TRUE(SendSettings());
    EXPECT_TRUE(raw->Read(546, 5000) == settings) << "SEND reaches the healthy port";
    EXPECT_EQ(card->SendLong(message.data(), 546), 1);
    EXPECT_TRUE(raw->Read(546, 5000) == settings);

    // It reads again: it gets every SEND that was reported as sent, whole, once and in order, and
    // the next SEND comes at once: the refused ones took no wire time (fifty SENDs would have held
    // it back by nine seconds).
    EXPECT_TRUE(slow->Received(accepted.size(), 5000) == accepted) << sends << " SENDs accepted";
    EXPECT_TRUE(slow->Received(SIZE_MAX, 300).empty()) << "nothing else came";
    ASSERT_TRUE(SendSettings());
    EXPECT_EQ(slow->Heard(546, 3000), 546u) << "not held back";
    EXPECT_TRUE(raw->Read(546, 5000) == settings);

    // The same for notes sent faster than the wire takes them, each one different.
    const int id = Present("Slow", 0);
    ASSERT_GE(id, 0);
    accepted.clear();
    sends = 0;
    for (int i = 0; i < 3000; ++i)
    {
        const uint8_t note[3] = {0x90, static_cast<uint8_t>(i & 0x7F), static_cast<uint8_t>(1 + (i >> 7))};
        if (manager->SendMessage(id, note, 3))
        {
            accepted.insert(accepted.end(), note, note + 3);
            ++sends;
        }
        else if (i == 0)
            ADD_FAILURE() << "the first note into an empty input is refused";
    }
    EXPECT_LT(sends, 3000) << "its input never filled";
    std::printf("a receiver that stopped reading: %d of 3000 notes accepted\n", sends);
    EXPECT_TRUE(slow->Received(accepted.size(), 8000) == accepted) << sends << " notes accepted";
    EXPECT_TRUE(slow->Received(SIZE_MAX, 300).empty()) << "nothing else came";
    EXPECT_FALSE(slow->Overflowed()) << "its input never overflowed";

    // After it has ended and another program has taken its address.
    const int address = slow->Client();
    slow.reset();
    OtherProgram newcomer("Newcomer");
    ASSERT_EQ(newcomer.Client(), address) << "the sequencer hands the freed client number on";
    ASSERT_TRUE(SendSettings());
    EXPECT_TRUE(raw->Read(546, 5000) == settings);
    EXPECT_EQ(output->SendLongWait(message.data(), 546, nullptr), 0) << "the old port is gone";
    EXPECT_EQ(newcomer.Heard(1, 2000), 0u) << "nothing refused or dropped reaches the program at the old address";
    EXPECT_TRUE(raw->Read(1, 300).empty()) << "nothing else came";
}
