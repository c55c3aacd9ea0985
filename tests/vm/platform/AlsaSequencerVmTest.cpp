// The ALSA layer on a real sequencer, in the VM of tests/vm/run-in-vm.sh. What the back end shows
// end to end (the 546-byte message at the card, pacing, incoming SysEx, the hand-over of a SysEx
// request) is tested through the MIDI manager in tests/vm/midi.

#include "platform/AlsaEndpoints.h"
#include "platform/CoreMidi.h"
#include "platform/HostClock.h"
#include "vm/ReceiverProcess.h"
#include "vm/VmDevices.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace VmDevices;

const char* const kPortClientName = "Vusk's MIDI subsystem";

std::string StringProperty(MIDIObjectRef object, SysStringRef key)
{
    SysString value;
    MIDIObjectGetStringProperty(object, key, value.receive());
    return value.str();
}

MIDIEndpointRef FindEndpoint(bool source, const std::string& name)
{
    const size_t count = source ? MIDIGetNumberOfSources() : MIDIGetNumberOfDestinations();
    for (size_t i = 0; i < count; ++i)
        if (StringProperty(source ? MIDIGetSource(i) : MIDIGetDestination(i), kMIDIPropertyName) == name)
            return source ? MIDIGetSource(i) : MIDIGetDestination(i);
    return 0;
}

// Sends the bytes as one packet, in the room the paced sender gives.
OSStatus SendPacket(MIDIPortRef port, MIDIEndpointRef destination, const std::vector<uint8_t>& bytes,
                    MIDITimeStamp stamp)
{
    std::vector<uint8_t> buffer(bytes.size() + 16);
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    MIDIPacketListAdd(list, buffer.size(), MIDIPacketListInit(list), stamp, bytes.size(), bytes.data());
    return MIDISend(port, destination, list);
}

// The port client with one output and one input port, as the MIDI library's back end makes it.
struct PortClient
{
    MIDIClientRef client = 0;
    MIDIPortRef output = 0;
    MIDIPortRef input = 0;

    PortClient()
    {
        EXPECT_EQ(MIDIClientCreate(SysString(kPortClientName).get(), nullptr, nullptr, &client), 0);
        EXPECT_EQ(MIDIOutputPortCreate(client, SysString("Output port").get(), &output), 0);
        EXPECT_EQ(MIDIInputPortCreate(client, SysString("Input port").get(),
                                      [](const MIDIPacketList*, void*, void*) {}, nullptr, &input),
                  0);
    }
    ~PortClient() { EXPECT_EQ(MIDIClientDispose(client), 0); }
};

class AlsaSequencer : public testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_VM();
        ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
    }
};

} // namespace

TEST_F(AlsaSequencer, PortPropertiesClientNamesAndRefusals)
{
    // Which ports are listed, in which order, is tested through the MIDI manager (tests/vm/midi).
    const MIDIEndpointRef virmidi = FindEndpoint(false, VirmidiPort);
    EXPECT_EQ(StringProperty(virmidi, kMIDIPropertyModel), "VirMIDI");
    EXPECT_EQ(StringProperty(virmidi, kMIDIPropertyManufacturer), "VirMIDI");
    MIDIEntityRef entity = 0;
    MIDIDeviceRef device = 0;
    ASSERT_EQ(MIDIEndpointGetEntity(virmidi, &entity), 0);
    ASSERT_EQ(MIDIEntityGetDevice(entity, &device), 0);
    EXPECT_EQ(StringProperty(device, kMIDIPropertyName), "Virtual Raw MIDI 0-0");
    SysString model("x");
    EXPECT_EQ(MIDIObjectGetStringProperty(FindEndpoint(true, ThroughPort), kMIDIPropertyModel, model.receive()),
              kMIDIErrUnknownProperty)
        << "\"Midi Through\" belongs to no card";
    EXPECT_EQ(model.get(), nullptr);
    EXPECT_EQ(MIDIGetSource(MIDIGetNumberOfSources()), 0u) << "one past the last";

    PortClient ours;
    std::stringstream clients;
    clients << std::ifstream("/proc/asound/seq/clients").rdbuf();
    EXPECT_NE(clients.str().find(std::string("\"") + kPortClientName + "\""), std::string::npos)
        << "other programs see our client under its name: " << clients.str();

    const std::vector<uint8_t> note = { 0x90, 60, 100 };
    EXPECT_EQ(SendPacket(ours.output, FindEndpoint(true, ThroughPort), note, 0), kMIDIErrWrongEndpointType);
    EXPECT_EQ(MIDIPortConnectSource(ours.input, virmidi, nullptr), kMIDIErrWrongEndpointType);
    const MIDIEndpointRef nowhere = Alsa::EndpointRef(Alsa::ObjectKind::Destination, { { 150, 0 }, "Gone", "Gone" });
    EXPECT_EQ(SendPacket(ours.output, nowhere, note, 0), kMIDIErrUnknownEndpoint);
    EXPECT_EQ(SendPacket(ours.output, Alsa::MakeRef(Alsa::ObjectKind::Destination, 0xFFFFFF), note, 0),
              kMIDIErrUnknownEndpoint) << "a reference never made";
    EXPECT_EQ(SendPacket(ours.input, virmidi, note, 0), kMIDIErrInvalidPort) << "an input port sends nothing";
}

TEST_F(AlsaSequencer, StampedPacketsAreNotEarlyAndSysexRequestsComplete)
{
    PortClient ours;   // SysEx requests leave through its output port too
    RawMidi raw(RawDevice, O_RDONLY);
    const MIDIEndpointRef card = FindEndpoint(false, VirmidiPort);
    ASSERT_TRUE(raw.IsOpen() && card != 0);

    const uint64_t delay = AudioConvertNanosToHostTime(300000000);
    const MIDITimeStamp before = AudioGetCurrentHostTime();
    const MIDITimeStamp stamp = before + delay;
    ASSERT_EQ(SendPacket(ours.output, card, { 0x90, 60, 100 }, stamp), 0);
    EXPECT_LT(AudioGetCurrentHostTime() - before, delay / 2) << "the sender does not wait for the stamp";
    MIDITimeStamp arrival = 0;
    ASSERT_EQ(raw.Read(3, 5000, &arrival), (std::vector<uint8_t> { 0x90, 60, 100 }));
    EXPECT_GE(arrival, stamp) << "early by " << Millis(stamp - arrival) << " ms";
    EXPECT_LT(arrival, stamp + AudioConvertNanosToHostTime(2000000000)) << "far too late";
    std::printf("a packet stamped 300 ms ahead arrived %.2f ms after its stamp\n", Millis(arrival - stamp));

    // Stamps, not the order of the calls, decide; equal stamps keep the order of the calls.
    const MIDITimeStamp now = AudioGetCurrentHostTime();
    ASSERT_EQ(SendPacket(ours.output, card, { 0xB0, 7, 1 }, now + delay), 0);
    ASSERT_EQ(SendPacket(ours.output, card, { 0xC0, 2 }, now + delay / 2), 0);
    ASSERT_EQ(SendPacket(ours.output, card, { 0xE0, 0, 64 }, now + delay), 0);
    EXPECT_EQ(raw.Read(8, 5000), (std::vector<uint8_t> { 0xC0, 2, 0xB0, 7, 1, 0xE0, 0, 64 }));

    struct Block
    {
        MIDISysexSendRequest request {};
        std::atomic<int> calls { 0 };
        std::atomic<bool> onTestThread { false };
        std::thread::id testThread = std::this_thread::get_id();
    } block;
    const std::vector<uint8_t> data = Sysex(1000, 9);
    block.request.destination = card;
    block.request.data = data.data();
    block.request.bytesToSend = static_cast<uint32_t>(data.size());
    block.request.completionRefCon = &block;
    block.request.completionProc = [](MIDISysexSendRequest* request) {
        auto* self = static_cast<Block*>(request->completionRefCon);
        self->onTestThread = std::this_thread::get_id() == self->testThread;
        self->calls.fetch_add(1);
    };

    const MIDITimeStamp start = AudioGetCurrentHostTime();
    ASSERT_EQ(MIDISendSysex(&block.request), 0);
    EXPECT_LT(Millis(AudioGetCurrentHostTime() - start), 150.0) << "the request returns at once";
    EXPECT_TRUE(raw.Read(data.size(), 10000) == data) << "the bytes arrive unchanged";
    ASSERT_TRUE(WaitFor([&] { return block.calls.load() > 0; }, 5000)) << "no completion";
    EXPECT_TRUE(block.request.complete.load());
    EXPECT_EQ(block.calls.load(), 1);
    EXPECT_FALSE(block.onTestThread.load()) << "completion runs on the service's thread";
    EXPECT_EQ(block.request.bytesToSend, 0u);
    EXPECT_EQ(block.request.data, data.data() + data.size());
}

TEST_F(AlsaSequencer, DevicesComingAndGoingAreNotified)
{
    juce::ScopedJuceInitialiser_GUI juceInit;
    struct Notes
    {
        std::vector<int> ids;
        bool offThread = false;
        std::thread::id messageThread = std::this_thread::get_id();
        bool Has(int id) const { return std::find(ids.begin(), ids.end(), id) != ids.end(); }
    } notes;
    const MIDINotifyProc proc = [](const MIDINotification* message, void* refCon) {
        auto* self = static_cast<Notes*>(refCon);
        self->offThread = self->offThread || std::this_thread::get_id() != self->messageThread;
        self->ids.push_back(message->messageID);
    };
    MIDIClientRef listener = 0;
    ASSERT_EQ(MIDIClientCreate(SysString("VUSK'S MIDI LISTENER").get(), proc, &notes, &listener), 0);
    Pump(200);
    notes.ids.clear();
    {
        PortClient ours;
        Pump(500);
    }
    Pump(300);
    EXPECT_TRUE(notes.ids.empty()) << notes.ids.size() << " notifications about our own client";

    for (const bool load : { false, true })
    {
        notes.ids.clear();
        ASSERT_TRUE(Module(load ? "load" : "unload", "snd-virmidi"));
        const int expected = load ? kMIDIMsgObjectAdded : kMIDIMsgObjectRemoved;
        EXPECT_TRUE(WaitFor([&] { return notes.Has(expected); }, 5000, true)) << "no notification, load " << load;
        EXPECT_FALSE(notes.Has(load ? kMIDIMsgObjectRemoved : kMIDIMsgObjectAdded)) << "load " << load;
    }
    EXPECT_FALSE(notes.offThread) << "notifications arrive on the message thread";

    // Once the client is gone its routine hears nothing more.
    ASSERT_EQ(MIDIClientDispose(listener), 0);
    notes.ids.clear();
    ASSERT_TRUE(Module("unload", "snd-virmidi"));
    ASSERT_TRUE(Module("load", "snd-virmidi"));
    Pump(500);
    EXPECT_TRUE(notes.ids.empty());
    ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
}

TEST_F(AlsaSequencer, OneListingGivesTheEndpointsOfTheIndexedCalls)
{
    PortClient ours;   // our own ports are never endpoints
    // Another program with write-only ports, so that sources and destinations differ.
    snd_seq_t* other = nullptr;
    ASSERT_GE(snd_seq_open(&other, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK), 0);
    snd_seq_set_client_name(other, "Listing");
    for (const char* name : { "Out A", "Out B", "Out C" })
        ASSERT_GE(snd_seq_create_simple_port(other, name, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                             SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION),
                  0);
    for (const bool source : { true, false })
    {
        const std::vector<MIDIEndpointRef> all = source ? MIDIGetAllSources() : MIDIGetAllDestinations();
        EXPECT_EQ(all.size(), source ? MIDIGetNumberOfSources() : MIDIGetNumberOfDestinations());
        for (size_t i = 0; i < all.size(); ++i)
            EXPECT_EQ(all[i], source ? MIDIGetSource(i) : MIDIGetDestination(i)) << "source " << source << ", " << i;
    }
    const std::vector<MIDIEndpointRef> destinations = MIDIGetAllDestinations();
    EXPECT_EQ(destinations.size(), MIDIGetAllSources().size() + 3);
    ASSERT_FALSE(destinations.empty());
    EXPECT_EQ(StringProperty(destinations.back(), kMIDIPropertyName), "Out C") << "in sequencer order";
    snd_seq_close(other);
    EXPECT_EQ(MIDIGetAllDestinations().size(), destinations.size() - 3);
}

// ---- Sends that are refused, and lost announcements -----------------------------------------

namespace {


// Waits until the receiver's input has fewer than cells free cells.
bool InputFull(const ReceiverProcess& receiver, int cells, int timeoutMs)
{
    return WaitFor(
        [&] {
            int free = 0;
            int pool = 0;
            return receiver.InputRoom(free, pool) && free < cells;
        },
        timeoutMs);
}

struct SysexRequest
{
    MIDISysexSendRequest request{};
    std::vector<uint8_t> bytes;
    std::atomic<bool> done{false};

    SysexRequest(MIDIEndpointRef destination, std::vector<uint8_t> data) : bytes(std::move(data))
    {
        request.destination = destination;
        request.data = bytes.data();
        request.bytesToSend = static_cast<uint32_t>(bytes.size());
        request.completionRefCon = this;
        request.completionProc = [](MIDISysexSendRequest* r) {
            static_cast<SysexRequest*>(r->completionRefCon)->done = true;
        };
    }
};

} // namespace

TEST_F(AlsaSequencer, ARefusedSendLeavesNothingBehind)
{
    auto stalled = std::make_unique<ReceiverProcess>("Stalled receiver");
    ASSERT_GE(stalled->Client(), 0) << "the receiving program did not start";
    PortClient ours;
    RawMidi raw(RawDevice, O_RDONLY);
    const MIDIEndpointRef card = FindEndpoint(false, VirmidiPort);
    const MIDIEndpointRef receiver = FindEndpoint(false, "Stalled receiver");
    ASSERT_TRUE(raw.IsOpen() && card != 0 && receiver != 0);
    const std::vector<uint8_t> message = Sysex(546, 3);

    int free = 0;
    int pool = 0;
    ASSERT_TRUE(stalled->InputRoom(free, pool));
    std::printf("the receiving program's input: %d cells, %d free\n", pool, free);
    ASSERT_TRUE(stalled->Stop());

    // A dump larger than its whole input: it starts, the kernel refuses the rest, and the rest
    // does not wait in our connection for the next send.
    MIDITimeStamp start = AudioGetCurrentHostTime();
    EXPECT_EQ(SendPacket(ours.output, receiver, Sysex(8000, 4), 0), kMIDIErrMessageSend);
    EXPECT_LT(MillisSince(start), 1000.0);
    ASSERT_TRUE(InputFull(*stalled, 11, 3000)) << "the stopped program's input did not fill";

    for (int i = 0; i < 50; ++i)
    {
        start = AudioGetCurrentHostTime();
        EXPECT_EQ(SendPacket(ours.output, receiver, message, 0), kMIDIErrMessageSend) << "send " << i;
        ASSERT_LT(MillisSince(start), 1000.0) << "send " << i;
    }
    for (int i = 0; i < 5; ++i)
    {
        SysexRequest request(receiver, message);
        start = AudioGetCurrentHostTime();
        ASSERT_EQ(MIDISendSysex(&request.request), 0);
        ASSERT_TRUE(WaitFor([&] { return request.done.load(); }, 1000)) << "request " << i;
        EXPECT_EQ(request.request.bytesToSend, message.size()) << "nothing of it went";
    }

    // Other ports are served as before, while the stopped program is there and after it has gone.
    ASSERT_EQ(SendPacket(ours.output, card, message, 0), 0);
    EXPECT_TRUE(raw.Read(message.size(), 5000) == message) << "a healthy port gets the message whole";
    const int address = stalled->Client();
    stalled.reset();
    OtherProgram newcomer("Newcomer");
    ASSERT_EQ(newcomer.Client(), address) << "the sequencer hands the freed client number on";
    ASSERT_EQ(SendPacket(ours.output, card, message, 0), 0);
    EXPECT_TRUE(raw.Read(message.size(), 5000) == message);
    EXPECT_EQ(SendPacket(ours.output, receiver, message, 0), kMIDIErrUnknownEndpoint);
    EXPECT_EQ(newcomer.Heard(SIZE_MAX, 1500), 0u) << "nothing refused reaches the program at the old address";
}

TEST_F(AlsaSequencer, QueuedPacketsDoNotReachAProgramThatTakesTheAddress)
{
    auto leaving = std::make_unique<ReceiverProcess>("Leaving receiver");
    ASSERT_GE(leaving->Client(), 0);
    PortClient ours;
    const MIDIEndpointRef receiver = FindEndpoint(false, "Leaving receiver");
    ASSERT_NE(receiver, 0u);
    // Paced like the SEND button's messages: they wait in the queue for their time.
    const MIDITimeStamp now = AudioGetCurrentHostTime();
    for (uint64_t i = 1; i <= 4; ++i)
        ASSERT_EQ(SendPacket(ours.output, receiver, Sysex(546, 5), now + AudioConvertNanosToHostTime(400000000u * i)),
                  0);
    const int address = leaving->Client();
    leaving.reset();
    OtherProgram newcomer("Newcomer");
    ASSERT_EQ(newcomer.Client(), address);
    EXPECT_EQ(newcomer.Heard(SIZE_MAX, 2500), 0u) << "what was meant for the program that ended reaches nobody";
}

TEST_F(AlsaSequencer, ASendOurQueueCannotHoldIsTakenBackWhole)
{
    PortClient ours;
    RawMidi raw(RawDevice, O_RDONLY);
    const MIDIEndpointRef card = FindEndpoint(false, VirmidiPort);
    ASSERT_TRUE(raw.IsOpen() && card != 0);
    // 65535 bytes due in 3 s need more room in our queue than there is: the send waits a little
    // for room, is refused, and what it had put in the queue is taken out again.
    const MIDITimeStamp start = AudioGetCurrentHostTime();
    EXPECT_EQ(SendPacket(ours.output, card, Sysex(65535, 6), start + AudioConvertNanosToHostTime(3000000000u)),
              kMIDIErrMessageSend);
    EXPECT_LT(MillisSince(start), 1000.0);
    EXPECT_TRUE(raw.Read(1, 4000).empty()) << "nothing of the refused send arrives";
    const std::vector<uint8_t> message = Sysex(546, 7);
    ASSERT_EQ(SendPacket(ours.output, card, message, 0), 0);
    EXPECT_TRUE(raw.Read(message.size(), 5000) == message);
}

TEST_F(AlsaSequencer, LostAnnouncementsAskForAFullListing)
{
    juce::ScopedJuceInitialiser_GUI juceInit;
    struct Notes
    {
        std::vector<int> ids;
        std::atomic<bool> holdReader{true};
        std::atomic<bool> readerHeld{false};
    } notes;
    const MIDINotifyProc proc = [](const MIDINotification* message, void* refCon) {
        static_cast<Notes*>(refCon)->ids.push_back(message->messageID);
    };
    MIDIClientRef listener = 0;
    ASSERT_EQ(MIDIClientCreate(SysString("VUSK'S MIDI LISTENER").get(), proc, &notes, &listener), 0);
    // The listener's receive thread is held in a read routine while a burst of port changes
    // overflows its input; the kernel then drops every notice that waited.
    MIDIPortRef input = 0;
    ASSERT_EQ(MIDIInputPortCreate(listener, SysString("Input port").get(),
                                  [](const MIDIPacketList*, void* refCon, void*) {
                                      auto* self = static_cast<Notes*>(refCon);
                                      self->readerHeld = true;
                                      while (self->holdReader)
                                          std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                  },
                                  &notes, &input),
              0);
    ASSERT_EQ(MIDIPortConnectSource(input, FindEndpoint(true, VirmidiPort), nullptr), 0);
    Pump(300);
    notes.ids.clear();
    RawMidi card(RawDevice, O_WRONLY);
    ASSERT_TRUE(card.Write({0x90, 60, 1}));
    ASSERT_TRUE(WaitFor([&] { return notes.readerHeld.load(); }, 5000));

    snd_seq_t* burst = nullptr;
    ASSERT_GE(snd_seq_open(&burst, "default", SND_SEQ_OPEN_DUPLEX, 0), 0);
    snd_seq_set_client_name(burst, "Port burst");
    for (int i = 0; i < 1200; ++i)   // 2400 notices; the listener's input holds 2000
    {
        const int port = snd_seq_create_simple_port(burst, "Burst", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                                    SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        ASSERT_GE(port, 0);
        snd_seq_delete_simple_port(burst, port);
    }
    notes.holdReader = false;
    EXPECT_TRUE(WaitFor([&] { return !notes.ids.empty(); }, 5000, true)) << "the loss went unnoticed";
    EXPECT_NE(std::find(notes.ids.begin(), notes.ids.end(), kMIDIMsgSetupChanged), notes.ids.end())
        << "a lost burst asks for a full listing";
    snd_seq_close(burst);
    ASSERT_EQ(MIDIClientDispose(listener), 0);
}
