// The ALSA layer on a real sequencer: runs inside the virtual machine of tests/vm/run-in-vm.sh,
// which has "Midi Through" and the virtual MIDI card of snd-virmidi (raw devices
// /dev/snd/midiC0D0..3, sequencer ports "VirMIDI 0-0".."VirMIDI 0-3").

#include "platform/AlsaEndpoints.h"
#include "platform/CoreMidi.h"
#include "platform/HostClock.h"
#include "vm/VmDevices.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

using namespace VmDevices;

const char* const kPortClientName = "Vusk's MIDI subsystem";
const char* const kListenerName = "VUSK'S MIDI LISTENER";
const char* const kRawDevice = RawDevice;
const char* const kVirmidiPort = VirmidiPort;
const char* const kThroughPort = ThroughPort;

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
    const size_t count = source ? MIDIGetNumberOfSources() : MIDIGetNumberOfDestinations();
    for (size_t i = 0; i < count; ++i)
    {
        const MIDIEndpointRef endpoint = source ? MIDIGetSource(i) : MIDIGetDestination(i);
        if (StringProperty(endpoint, kMIDIPropertyName) == name)
            return endpoint;
    }
    return 0;
}

bool Contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// Sends the bytes as one packet, built the way the paced sender builds it.
OSStatus SendPacket(MIDIPortRef port, MIDIEndpointRef destination, const std::vector<uint8_t>& bytes,
                    MIDITimeStamp stamp)
{
    std::vector<uint8_t> buffer(bytes.size() + 16);
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
    if (MIDIPacketListAdd(list, buffer.size(), MIDIPacketListInit(list), stamp, bytes.size(), bytes.data()) == nullptr)
        return kMIDIErrParameter;
    return MIDISend(port, destination, list);
}

// What a read routine received.
struct Received
{
    std::mutex mutex;
    std::vector<uint8_t> bytes;
    int packets = 0;
    void* connection = nullptr;
    bool onTestThread = false;
    std::thread::id testThread = std::this_thread::get_id();

    static void ReadProc(const MIDIPacketList* list, void* readRefCon, void* connRefCon)
    {
        auto* self = static_cast<Received*>(readRefCon);
        std::lock_guard<std::mutex> lock(self->mutex);
        const MIDIPacket* packet = &list->packet[0];
        for (uint32_t i = 0; i < list->numPackets; ++i)
        {
            self->bytes.insert(self->bytes.end(), packet->data, packet->data + packet->length);
            ++self->packets;
            packet = MIDIPacketNext(packet);
        }
        self->connection = connRefCon;
        self->onTestThread = self->onTestThread || std::this_thread::get_id() == self->testThread;
    }

    size_t Size()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return bytes.size();
    }
};

// The port client with one output and one input port, as the MIDI library's back end makes it.
struct PortClient
{
    MIDIClientRef client = 0;
    MIDIPortRef output = 0;
    MIDIPortRef input = 0;
    Received received;

    PortClient()
    {
        EXPECT_EQ(MIDIClientCreate(SysString(kPortClientName).get(), nullptr, nullptr, &client), 0);
        EXPECT_EQ(MIDIOutputPortCreate(client, SysString("Output port").get(), &output), 0);
        EXPECT_EQ(MIDIInputPortCreate(client, SysString("Input port").get(), &Received::ReadProc, &received, &input),
                  0);
    }
    ~PortClient()
    {
        EXPECT_EQ(MIDIClientDispose(client), 0);
    }
};

} // namespace

TEST(AlsaSequencer, ListsPortsWithNamesAndProperties)
{
    REQUIRE_VM();
    ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
    const std::vector<std::string> sources = EndpointNames(true);
    const std::vector<std::string> destinations = EndpointNames(false);
    for (const std::string name : { kThroughPort, "VirMIDI 0-0", "VirMIDI 0-3" })
    {
        EXPECT_TRUE(Contains(sources, name)) << name << " is a source";
        EXPECT_TRUE(Contains(destinations, name)) << name << " is a destination";
    }
    EXPECT_EQ(MIDIGetSource(sources.size()), 0u);
    EXPECT_EQ(MIDIGetDestination(destinations.size()), 0u);

    for (size_t i = 0; i < sources.size(); ++i)
    {
        const MIDIEndpointRef source = MIDIGetSource(i);
        MIDIEntityRef entity = 0;
        MIDIDeviceRef device = 0;
        ASSERT_EQ(MIDIEndpointGetEntity(source, &entity), 0);
        ASSERT_EQ(MIDIEntityGetDevice(entity, &device), 0);
        int32_t entityId = 0;
        int32_t deviceId = 0;
        ASSERT_EQ(MIDIObjectGetIntegerProperty(entity, kMIDIPropertyUniqueID, &entityId), 0);
        ASSERT_EQ(MIDIObjectGetIntegerProperty(device, kMIDIPropertyUniqueID, &deviceId), 0);
        const std::string deviceName = StringProperty(device, kMIDIPropertyName);
        std::printf("source %zu: name \"%s\" model \"%s\" manufacturer \"%s\" device \"%s\" ids %08X %08X\n", i,
                    sources[i].c_str(), StringProperty(source, kMIDIPropertyModel).c_str(),
                    StringProperty(source, kMIDIPropertyManufacturer).c_str(), deviceName.c_str(),
                    static_cast<unsigned>(entityId), static_cast<unsigned>(deviceId));
        EXPECT_EQ(entityId, Alsa::StableUniqueId(Alsa::ObjectKind::Entity, deviceName, sources[i]));
        EXPECT_EQ(deviceId, Alsa::StableUniqueId(Alsa::ObjectKind::Device, deviceName, ""));
        EXPECT_NE(entityId, 0);
        EXPECT_NE(entityId, -1);
    }

    // A card's port knows its card; "Midi Through" belongs to none.
    const MIDIEndpointRef virmidi = FindEndpoint(false, kVirmidiPort);
    EXPECT_EQ(StringProperty(virmidi, kMIDIPropertyModel), "VirMIDI");
    EXPECT_EQ(StringProperty(virmidi, kMIDIPropertyManufacturer), "VirMIDI");
    SysString model("x");
    EXPECT_EQ(MIDIObjectGetStringProperty(FindEndpoint(true, kThroughPort), kMIDIPropertyModel, model.receive()),
              kMIDIErrUnknownProperty);
    EXPECT_EQ(model.get(), nullptr);
    MIDIEntityRef entity = 0;
    MIDIDeviceRef device = 0;
    MIDIEndpointGetEntity(virmidi, &entity);
    MIDIEntityGetDevice(entity, &device);
    EXPECT_EQ(StringProperty(device, kMIDIPropertyName), "Virtual Raw MIDI 0-0");

    // Our own clients are seen by other programs under their names, but their ports are no
    // endpoints for us (nor for them).
    PortClient ours;
    MIDIClientRef listener = 0;
    ASSERT_EQ(MIDIClientCreate(SysString(kListenerName).get(), [](const MIDINotification*, void*) {}, nullptr,
                               &listener),
              0);
    EXPECT_EQ(EndpointNames(true), sources);
    EXPECT_EQ(EndpointNames(false), destinations);
    std::ifstream clientsFile("/proc/asound/seq/clients");
    std::stringstream clients;
    clients << clientsFile.rdbuf();
    EXPECT_NE(clients.str().find(std::string("\"") + kPortClientName + "\""), std::string::npos) << clients.str();
    EXPECT_NE(clients.str().find(std::string("\"") + kListenerName + "\""), std::string::npos) << clients.str();
    EXPECT_EQ(MIDIClientDispose(listener), 0);
}

// Our port client sends to the virtual card; the card's raw device reads what arrives.
class SendToCard : public testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_VM();
        ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
        ports = std::make_unique<PortClient>();
        raw = std::make_unique<RawMidi>(kRawDevice, O_RDONLY);
        ASSERT_TRUE(raw->IsOpen());
        destination = FindEndpoint(false, kVirmidiPort);
        ASSERT_NE(destination, 0u);
    }

    std::unique_ptr<PortClient> ports;
    std::unique_ptr<RawMidi> raw;
    MIDIEndpointRef destination = 0;
};

TEST_F(SendToCard, SysexReachesTheRawDeviceByteExact)
{
    PortClient& ours = *ports;

    const std::vector<uint8_t> settings = Sysex(546, 3);
    ASSERT_EQ(SendPacket(ours.output, destination, settings, AudioGetCurrentHostTime()), 0);
    const std::vector<uint8_t> arrived = raw->Read(settings.size(), 5000);
    EXPECT_EQ(arrived.size(), settings.size());
    EXPECT_TRUE(arrived == settings) << "the 546 bytes arrive unchanged";

    // Through the kernel's "Midi Through" port back into our input port.
    const MIDIEndpointRef throughOut = FindEndpoint(false, kThroughPort);
    const MIDIEndpointRef throughIn = FindEndpoint(true, kThroughPort);
    int context = 0;
    ASSERT_EQ(MIDIPortConnectSource(ours.input, throughIn, &context), 0);
    ASSERT_EQ(SendPacket(ours.output, throughOut, settings, AudioGetCurrentHostTime()), 0);
    EXPECT_TRUE(WaitFor([&] { return ours.received.Size() >= settings.size(); }, 5000));
    {
        std::lock_guard<std::mutex> lock(ours.received.mutex);
        EXPECT_TRUE(ours.received.bytes == settings) << "loop through the sequencer";
        EXPECT_EQ(ours.received.connection, &context);
        std::printf("546 bytes came back through Midi Through in %d packets\n", ours.received.packets);
    }

    // Wrong-way and vanished endpoints are refused.
    EXPECT_EQ(SendPacket(ours.output, throughIn, settings, 0), kMIDIErrWrongEndpointType);
    EXPECT_EQ(MIDIPortConnectSource(ours.input, throughOut, nullptr), kMIDIErrWrongEndpointType);
    EXPECT_EQ(SendPacket(ours.output, Alsa::AddressRef(Alsa::ObjectKind::Destination, { 150, 0 }), settings, 0),
              kMIDIErrUnknownEndpoint);
    EXPECT_EQ(SendPacket(ours.input, throughOut, settings, 0), kMIDIErrInvalidPort) << "an input port sends nothing";
}

TEST_F(SendToCard, TimeStampedPacketsArriveNoEarlierThanTheirStamps)
{
    PortClient& ours = *ports;

    const uint64_t delay = AudioConvertNanosToHostTime(300000000);
    const MIDITimeStamp stamp = AudioGetCurrentHostTime() + delay;
    const MIDITimeStamp before = AudioGetCurrentHostTime();
    ASSERT_EQ(SendPacket(ours.output, destination, { 0x90, 60, 100 }, stamp), 0);
    const MIDITimeStamp returned = AudioGetCurrentHostTime();
    EXPECT_LT(returned - before, delay / 2) << "the sender does not wait for the stamp";
    MIDITimeStamp arrival = 0;
    const std::vector<uint8_t> arrived = raw->Read(3, 5000, &arrival);
    ASSERT_EQ(arrived, (std::vector<uint8_t> { 0x90, 60, 100 }));
    EXPECT_GE(arrival, stamp) << "early by " << Millis(stamp - arrival) << " ms";
    EXPECT_LT(arrival, stamp + AudioConvertNanosToHostTime(2000000000)) << "far too late";
    std::printf("a packet stamped 300 ms ahead arrived %.2f ms after its stamp (send call %.3f ms)\n",
                Millis(arrival - stamp), Millis(returned - before));

    // Stamps, not the order of the calls, decide; a due packet does not overtake waiting ones.
    const MIDITimeStamp now = AudioGetCurrentHostTime();
    ASSERT_EQ(SendPacket(ours.output, destination, { 0xB0, 7, 1 }, now + delay), 0);
    ASSERT_EQ(SendPacket(ours.output, destination, { 0xC0, 2 }, now + delay / 2), 0);
    ASSERT_EQ(SendPacket(ours.output, destination, { 0xE0, 0, 64 }, now + delay), 0);
    const std::vector<uint8_t> order = raw->Read(8, 5000);
    EXPECT_EQ(order, (std::vector<uint8_t> { 0xC0, 2, 0xB0, 7, 1, 0xE0, 0, 64 }));

    // Paced like the MIDI library does it: the second message is stamped after the first one's
    // wire time and arrives no earlier.
    const std::vector<uint8_t> first = Sysex(546, 1);
    const std::vector<uint8_t> second = Sysex(546, 2);
    const MIDITimeStamp start = AudioGetCurrentHostTime();
    const MIDITimeStamp secondStamp = start + AudioConvertNanosToHostTime(546ull * 320000ull);
    ASSERT_EQ(SendPacket(ours.output, destination, first, start), 0);
    ASSERT_EQ(SendPacket(ours.output, destination, second, secondStamp), 0);
    MIDITimeStamp firstArrival = 0;
    MIDITimeStamp secondArrival = 0;
    EXPECT_EQ(raw->Read(546, 5000, &firstArrival), first);
    EXPECT_EQ(raw->Read(546, 5000, &secondArrival), second);
    EXPECT_GE(secondArrival, secondStamp);
    std::printf("paced 546-byte messages: first after %.2f ms, second %.2f ms after its stamp\n",
                Millis(firstArrival - start), Millis(secondArrival - secondStamp));
}

namespace {

struct SysexBlock
{
    MIDISysexSendRequest request {};
    std::vector<uint8_t> data;
    std::atomic<int> calls { 0 };
    std::atomic<bool> onTestThread { false };
    std::thread::id testThread = std::this_thread::get_id();
    MIDITimeStamp completedAt = 0;

    static void Completion(MIDISysexSendRequest* request)
    {
        auto* self = static_cast<SysexBlock*>(request->completionRefCon);
        self->completedAt = AudioGetCurrentHostTime();
        self->onTestThread = std::this_thread::get_id() == self->testThread;
        self->calls.fetch_add(1);
    }
};

} // namespace

TEST_F(SendToCard, SysexRequestCompletesAsynchronously)
{
    // The request goes out through the output port of our port client.
    SysexBlock block;
    block.data = Sysex(1000, 9);
    block.request.destination = destination;
    block.request.data = block.data.data();
    block.request.bytesToSend = static_cast<uint32_t>(block.data.size());
    block.request.completionProc = &SysexBlock::Completion;
    block.request.completionRefCon = &block;

    const MIDITimeStamp start = AudioGetCurrentHostTime();
    ASSERT_EQ(MIDISendSysex(&block.request), 0);
    EXPECT_LT(Millis(AudioGetCurrentHostTime() - start), 150.0) << "the request returns at once";
    const std::vector<uint8_t> arrived = raw->Read(block.data.size(), 10000);
    ASSERT_TRUE(WaitFor([&] { return block.calls.load() > 0; }, 5000)) << "no completion";
    EXPECT_TRUE(block.request.complete.load());
    EXPECT_EQ(block.calls.load(), 1);
    EXPECT_FALSE(block.onTestThread.load()) << "completion runs on the service's thread";
    EXPECT_EQ(block.request.bytesToSend, 0u);
    EXPECT_EQ(block.request.data, block.data.data() + block.data.size());
    EXPECT_TRUE(arrived == block.data) << "the bytes arrive unchanged";
    // Paced at cable speed: three waits of 256 byte times lie between the four pieces.
    const double took = Millis(block.completedAt - start);
    EXPECT_GE(took, 200.0);
    std::printf("a 1000-byte SysEx request completed after %.1f ms (cable time 320 ms)\n", took);

    // A sender that stops waiting hands the request over: whoever lets go last frees it, and the
    // service touches nothing after the completion routine (the sanitizer run would see it).
    struct SharedRequest
    {
        MIDISysexSendRequest request {};
        std::vector<uint8_t> data = Sysex(600, 4);
        std::atomic<int> holders { 2 };
        static void LetGo(SharedRequest* self)
        {
            if (self->holders.fetch_sub(1) == 1)
                delete self;
        }
    };
    auto* shared = new SharedRequest;
    shared->request.destination = destination;
    shared->request.data = shared->data.data();
    shared->request.bytesToSend = static_cast<uint32_t>(shared->data.size());
    shared->request.completionRefCon = shared;
    shared->request.completionProc = [](MIDISysexSendRequest* request) {
        SharedRequest::LetGo(static_cast<SharedRequest*>(request->completionRefCon));
    };
    const std::vector<uint8_t> expected = shared->data;
    ASSERT_EQ(MIDISendSysex(&shared->request), 0);
    SharedRequest::LetGo(shared);
    EXPECT_TRUE(raw->Read(expected.size(), 10000) == expected) << "the transfer goes on without its sender";
}

TEST(AlsaSequencer, IncomingSysexReachesTheReadRoutine)
{
    REQUIRE_VM();
    ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
    PortClient ours;
    const MIDIEndpointRef source = FindEndpoint(true, kVirmidiPort);
    ASSERT_NE(source, 0u);
    int context = 0;
    ASSERT_EQ(MIDIPortConnectSource(ours.input, source, &context), 0);

    RawMidi raw(kRawDevice, O_WRONLY);
    ASSERT_TRUE(raw.IsOpen());
    const std::vector<uint8_t> dump = Sysex(4000, 5);
    ASSERT_TRUE(raw.Write(dump));
    EXPECT_TRUE(WaitFor([&] { return ours.received.Size() >= dump.size(); }, 10000));
    {
        std::lock_guard<std::mutex> lock(ours.received.mutex);
        EXPECT_TRUE(ours.received.bytes == dump) << "4000 bytes in order, " << ours.received.bytes.size() << " came";
        EXPECT_EQ(ours.received.connection, &context);
        EXPECT_FALSE(ours.received.onTestThread) << "read routine runs on the receive thread";
        EXPECT_GT(ours.received.packets, 1) << "SysEx arrives in pieces";
        std::printf("4000 bytes of SysEx arrived in %d packets\n", ours.received.packets);
        ours.received.bytes.clear();
    }

    // Short messages arrive whole; after disconnecting nothing more arrives.
    ASSERT_TRUE(raw.Write({ 0x90, 64, 1, 0xB0, 1, 2 }));
    EXPECT_TRUE(WaitFor([&] { return ours.received.Size() >= 6; }, 5000));
    {
        std::lock_guard<std::mutex> lock(ours.received.mutex);
        EXPECT_EQ(ours.received.bytes, (std::vector<uint8_t> { 0x90, 64, 1, 0xB0, 1, 2 }));
        ours.received.bytes.clear();
    }
    EXPECT_EQ(MIDIPortDisconnectSource(ours.input, source), 0);
    EXPECT_EQ(MIDIPortDisconnectSource(ours.input, source), kMIDIErrNoConnection);
    ASSERT_TRUE(raw.Write({ 0x90, 65, 1 }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ours.received.Size(), 0u);

    // A disposed port hears nothing either.
    ASSERT_EQ(MIDIPortConnectSource(ours.input, source, &context), 0);
    ASSERT_EQ(MIDIPortDispose(ours.input), 0);
    EXPECT_EQ(MIDIPortDispose(ours.input), kMIDIErrInvalidPort);
    ASSERT_TRUE(raw.Write({ 0x90, 66, 1 }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ours.received.Size(), 0u);
}

namespace {

struct Notifications
{
    std::vector<int> ids;
    bool offThread = false;
    std::thread::id messageThread = std::this_thread::get_id();

    static void Proc(const MIDINotification* message, void* refCon)
    {
        auto* self = static_cast<Notifications*>(refCon);
        self->offThread = self->offThread || std::this_thread::get_id() != self->messageThread;
        self->ids.push_back(message->messageID);
    }

    bool Has(int id) const { return std::find(ids.begin(), ids.end(), id) != ids.end(); }
};

MIDIUniqueID EntityId(MIDIEndpointRef endpoint)
{
    MIDIEntityRef entity = 0;
    int32_t id = 0;
    MIDIEndpointGetEntity(endpoint, &entity);
    MIDIObjectGetIntegerProperty(entity, kMIDIPropertyUniqueID, &id);
    return id;
}

} // namespace

TEST(AlsaSequencer, DevicesComingAndGoingAreNotified)
{
    REQUIRE_VM();
    ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
    juce::ScopedJuceInitialiser_GUI juceInit;
    Notifications notes;
    MIDIClientRef listener = 0;
    ASSERT_EQ(MIDIClientCreate(SysString(kListenerName).get(), &Notifications::Proc, &notes, &listener), 0);
    PumpUntil([] { return false; }, 200);
    notes.ids.clear();

    {
        // Our own client and ports are no news.
        PortClient ours;
        PumpUntil([] { return false; }, 500);
    }
    PumpUntil([] { return false; }, 300);
    EXPECT_TRUE(notes.ids.empty()) << notes.ids.size() << " notifications about our own client";

    const MIDIUniqueID idBefore = EntityId(FindEndpoint(true, kVirmidiPort));
    ASSERT_TRUE(Module("unload", "snd-virmidi"));
    EXPECT_TRUE(PumpUntil([&] { return notes.Has(kMIDIMsgObjectRemoved); }, 5000)) << "object removed";
    EXPECT_FALSE(notes.Has(kMIDIMsgObjectAdded));
    EXPECT_EQ(FindEndpoint(true, kVirmidiPort), 0u);
    std::printf("unloading snd-virmidi: %zu notifications\n", notes.ids.size());

    notes.ids.clear();
    ASSERT_TRUE(Module("load", "snd-virmidi"));
    EXPECT_TRUE(PumpUntil([&] { return notes.Has(kMIDIMsgObjectAdded); }, 5000)) << "object added";
    EXPECT_FALSE(notes.Has(kMIDIMsgObjectRemoved));
    std::printf("loading snd-virmidi: %zu notifications\n", notes.ids.size());
    EXPECT_FALSE(notes.offThread) << "notifications arrive on the message thread";
    ASSERT_TRUE(WaitFor([] { return FindEndpoint(true, kVirmidiPort) != 0; }, 3000));
    EXPECT_EQ(EntityId(FindEndpoint(true, kVirmidiPort)), idBefore) << "the unique ID survives the reload";

    // Once the client is gone its routine hears nothing more.
    ASSERT_EQ(MIDIClientDispose(listener), 0);
    EXPECT_EQ(MIDIClientDispose(listener), kMIDIErrInvalidClient);
    notes.ids.clear();
    ASSERT_TRUE(Module("unload", "snd-virmidi"));
    ASSERT_TRUE(Module("load", "snd-virmidi"));
    PumpUntil([] { return false; }, 500);
    EXPECT_TRUE(notes.ids.empty());
    ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
}
