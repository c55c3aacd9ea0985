// The ALSA layer on a real sequencer, in the VM of tests/vm/run-in-vm.sh. What the back end shows
// end to end (the 546-byte message at the card, pacing, incoming SysEx, the hand-over of a SysEx
// request) is tested through the MIDI manager in tests/vm/midi.

#include "platform/AlsaEndpoints.h"
#include "platform/CoreMidi.h"
#include "platform/HostClock.h"
#include "vm/VmDevices.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace VmDevices;

const char* const kPortClientName = "Vusk's MIDI subsystem";
const char* const kListenerName = "VUSK'S MIDI LISTENER";

std::string StringProperty(MIDIObjectRef object, SysStringRef key)
{
    SysString value;
    MIDIObjectGetStringProperty(object, key, value.receive());
    return value.str();
}

std::vector<std::string> EndpointNames(bool sources)
{
    std::vector<std::string> names;
    const size_t count = sources ? MIDIGetNumberOfSources() : MIDIGetNumberOfDestinations();
    for (size_t i = 0; i < count; ++i)
        names.push_back(StringProperty(sources ? MIDIGetSource(i) : MIDIGetDestination(i), kMIDIPropertyName));
    return names;
}

MIDIEndpointRef FindEndpoint(bool source, const std::string& name)
{
    const std::vector<std::string> names = EndpointNames(source);
    const size_t i = static_cast<size_t>(std::find(names.begin(), names.end(), name) - names.begin());
    return i == names.size() ? 0 : source ? MIDIGetSource(i) : MIDIGetDestination(i);
}

MIDIUniqueID EntityId(MIDIEndpointRef endpoint)
{
    MIDIEntityRef entity = 0;
    int32_t id = 0;
    MIDIEndpointGetEntity(endpoint, &entity);
    MIDIObjectGetIntegerProperty(entity, kMIDIPropertyUniqueID, &id);
    return id;
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

} // namespace

TEST(AlsaSequencer, ListsPortsWithNamesAndProperties)
{
    REQUIRE_VM();
    ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
    const std::vector<std::string> sources = EndpointNames(true);
    const std::vector<std::string> destinations = EndpointNames(false);
    for (const std::string name : { ThroughPort, "VirMIDI 0-0", "VirMIDI 0-3" })
    {
        EXPECT_NE(std::find(sources.begin(), sources.end(), name), sources.end()) << name << " is a source";
        EXPECT_NE(std::find(destinations.begin(), destinations.end(), name), destinations.end()) << name;
    }
    EXPECT_EQ(MIDIGetSource(sources.size()), 0u) << "one past the last";

    // A card's port knows its card; "Midi Through" belongs to none.
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
              kMIDIErrUnknownProperty);
    EXPECT_EQ(model.get(), nullptr);

    // Other programs see our clients under their names; their ports are no endpoints for us.
    PortClient ours;
    MIDIClientRef listener = 0;
    ASSERT_EQ(MIDIClientCreate(SysString(kListenerName).get(), [](const MIDINotification*, void*) {}, nullptr,
                               &listener),
              0);
    EXPECT_EQ(EndpointNames(true), sources);
    EXPECT_EQ(EndpointNames(false), destinations);
    std::stringstream clients;
    clients << std::ifstream("/proc/asound/seq/clients").rdbuf();
    EXPECT_NE(clients.str().find(std::string("\"") + kPortClientName + "\""), std::string::npos) << clients.str();
    EXPECT_NE(clients.str().find(std::string("\"") + kListenerName + "\""), std::string::npos) << clients.str();
    EXPECT_EQ(MIDIClientDispose(listener), 0);

    // Wrong-way and vanished endpoints are refused.
    const std::vector<uint8_t> note = { 0x90, 60, 100 };
    EXPECT_EQ(SendPacket(ours.output, FindEndpoint(true, ThroughPort), note, 0), kMIDIErrWrongEndpointType);
    EXPECT_EQ(MIDIPortConnectSource(ours.input, virmidi, nullptr), kMIDIErrWrongEndpointType);
    EXPECT_EQ(SendPacket(ours.output, Alsa::AddressRef(Alsa::ObjectKind::Destination, { 150, 0 }), note, 0),
              kMIDIErrUnknownEndpoint);
    EXPECT_EQ(SendPacket(ours.input, virmidi, note, 0), kMIDIErrInvalidPort) << "an input port sends nothing";
}

TEST(AlsaSequencer, TimeStampedPacketsAreNotEarlyAndKeepStampOrder)
{
    REQUIRE_VM();
    ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
    PortClient ours;
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
}

TEST(AlsaSequencer, SysexRequestCompletesOnTheServiceThread)
{
    REQUIRE_VM();
    ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
    PortClient ours;   // the request leaves through its output port
    RawMidi raw(RawDevice, O_RDONLY);
    ASSERT_TRUE(raw.IsOpen());

    struct Block
    {
        MIDISysexSendRequest request {};
        std::atomic<int> calls { 0 };
        std::atomic<bool> onTestThread { false };
        std::thread::id testThread = std::this_thread::get_id();
        MIDITimeStamp completedAt = 0;
    } block;
    const std::vector<uint8_t> data = Sysex(1000, 9);
    block.request.destination = FindEndpoint(false, VirmidiPort);
    block.request.data = data.data();
    block.request.bytesToSend = static_cast<uint32_t>(data.size());
    block.request.completionRefCon = &block;
    block.request.completionProc = [](MIDISysexSendRequest* request) {
        auto* self = static_cast<Block*>(request->completionRefCon);
        self->completedAt = AudioGetCurrentHostTime();
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
    // Paced at cable speed (320 ms for 1000 bytes): three waits of 256 byte times between the pieces.
    EXPECT_GE(Millis(block.completedAt - start), 200.0);
}

TEST(AlsaSequencer, DevicesComingAndGoingAreNotified)
{
    REQUIRE_VM();
    ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
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
    ASSERT_EQ(MIDIClientCreate(SysString(kListenerName).get(), proc, &notes, &listener), 0);
    Pump(200);
    notes.ids.clear();
    {
        PortClient ours;
        Pump(500);
    }
    Pump(300);
    EXPECT_TRUE(notes.ids.empty()) << notes.ids.size() << " notifications about our own client";

    const MIDIUniqueID idBefore = EntityId(FindEndpoint(true, VirmidiPort));
    ASSERT_TRUE(Module("unload", "snd-virmidi"));
    EXPECT_TRUE(WaitFor([&] { return notes.Has(kMIDIMsgObjectRemoved); }, 5000, true)) << "object removed";
    EXPECT_FALSE(notes.Has(kMIDIMsgObjectAdded));
    EXPECT_EQ(FindEndpoint(true, VirmidiPort), 0u);

    notes.ids.clear();
    ASSERT_TRUE(Module("load", "snd-virmidi"));
    EXPECT_TRUE(WaitFor([&] { return notes.Has(kMIDIMsgObjectAdded); }, 5000, true)) << "object added";
    EXPECT_FALSE(notes.Has(kMIDIMsgObjectRemoved));
    EXPECT_FALSE(notes.offThread) << "notifications arrive on the message thread";
    ASSERT_TRUE(WaitFor([] { return FindEndpoint(true, VirmidiPort) != 0; }, 3000));
    EXPECT_EQ(EntityId(FindEndpoint(true, VirmidiPort)), idBefore) << "the unique ID survives the reload";

    // Once the client is gone its routine hears nothing more.
    ASSERT_EQ(MIDIClientDispose(listener), 0);
    notes.ids.clear();
    ASSERT_TRUE(Module("unload", "snd-virmidi"));
    ASSERT_TRUE(Module("load", "snd-virmidi"));
    Pump(500);
    EXPECT_TRUE(notes.ids.empty());
    ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
}
