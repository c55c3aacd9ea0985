// The ALSA layer on a real sequencer, in the VM of tests/vm/run-in-vm.sh. What the back end shows
// end to end (the 546-byte message at the card, pacing, incoming SysEx, the hand-over of a SysEx
// request, device notifications) is tested through the MIDI manager in tests/vm/midi.

#include "platform/AlsaEndpoints.h"
#include "platform/CoreMidi.h"
#include "platform/HostClock.h"
#include "vm/VmDevices.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
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

// A SysEx request and its bytes; the completion counts its calls and notes whether it ran on the
// thread that made the request.
struct SysexRequest
{
    MIDISysexSendRequest request{};
    std::vector<uint8_t> bytes;
    std::atomic<int> calls{0};
    std::atomic<bool> onTestThread{false};
    const std::thread::id testThread = std::this_thread::get_id();

    SysexRequest(MIDIEndpointRef destination, std::vector<uint8_t> data) : bytes(std::move(data))
    {
        request.destination = destination;
        request.data = bytes.data();
        request.bytesToSend = static_cast<uint32_t>(bytes.size());
        request.completionRefCon = this;
        request.completionProc = [](MIDISysexSendRequest* r) {
            auto* self = static_cast<SysexRequest*>(r->completionRefCon);
            self->onTestThread = std::this_thread::get_id() == self->testThread;
            ++self->calls;
        };
    }
    bool Completes(int timeoutMs)
    {
        return WaitFor([this] { return calls.load() > 0; }, timeoutMs);
    }
};

// The ports of our port client and their subscriptions, as the kernel lists them.
std::vector<std::string> OurPortsInKernel()
{
    std::ifstream clients("/proc/asound/seq/clients");
    std::vector<std::string> lines;
    bool ours = false;
    for (std::string line; std::getline(clients, line);)
    {
        if (line.rfind("Client ", 0) == 0)
            ours = line.find(std::string("\"") + kPortClientName + "\"") != std::string::npos;
        else if (ours && (line.find("Port ") != std::string::npos || line.find("Connect") != std::string::npos))
            lines.push_back(line);
    }
    return lines;
}

// Waits until our port client has the ports and subscriptions it had before.
void ExpectNothingLeft(const std::vector<std::string>& before, const char* what)
{
    WaitFor([&] { return OurPortsInKernel() == before; }, 2000);
    EXPECT_EQ(OurPortsInKernel(), before) << what;
}

class AlsaSequencer : public testing::Test
{
protected:
    void SetUp() override
    {
        REQUIRE_VM();
        ASSERT_TRUE(EnsureVirmidi()) << "snd-virmidi does not come up";
        ours.emplace();
    }

    // Opens the raw device that reads what arrives at the card; the card's destination, 0 if not.
    MIDIEndpointRef OpenCard()
    {
        return raw.emplace(RawDevice, O_RDONLY).IsOpen() ? FindEndpoint(false, VirmidiPort) : 0;
    }

    std::optional<PortClient> ours;
    std::optional<RawMidi> raw;
};

} // namespace

TEST_F(AlsaSequencer, PortPropertiesListingAndRefusals)
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

    std::stringstream clients;
    clients << std::ifstream("/proc/asound/seq/clients").rdbuf();
    EXPECT_NE(clients.str().find(std::string("\"") + kPortClientName + "\""), std::string::npos)
        << "other programs see our client under its name: " << clients.str();

    const std::vector<uint8_t> note = { 0x90, 60, 100 };
    EXPECT_EQ(SendPacket(ours->output, FindEndpoint(true, ThroughPort), note, 0), kMIDIErrWrongEndpointType);
    EXPECT_EQ(MIDIPortConnectSource(ours->input, virmidi, nullptr), kMIDIErrWrongEndpointType);
    const MIDIEndpointRef nowhere = Alsa::EndpointRef(Alsa::ObjectKind::Destination, { { 150, 0 }, "Gone", "Gone" });
    EXPECT_EQ(SendPacket(ours->output, nowhere, note, 0), kMIDIErrUnknownEndpoint);
    EXPECT_EQ(SendPacket(ours->output, Alsa::MakeRef(Alsa::ObjectKind::Destination, 0xFFFFFF), note, 0),
              kMIDIErrUnknownEndpoint) << "a reference never made";
    EXPECT_EQ(SendPacket(ours->input, virmidi, note, 0), kMIDIErrInvalidPort) << "an input port sends nothing";

    // One listing gives what the indexed calls give; another program's write-only ports make
    // sources and destinations differ, and our own ports are never endpoints.
    std::optional<OtherProgram> other;
    other.emplace("Listing", false);
    for (const char* name : { "Out A", "Out B", "Out C" })
        ASSERT_GE(other->AddPort(name), 0);
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
    other.reset();
    EXPECT_EQ(MIDIGetAllDestinations().size(), destinations.size() - 3);
}

TEST_F(AlsaSequencer, StampedPacketsAreNotEarlyAndSysexRequestsComplete)
{
    const MIDIEndpointRef card = OpenCard();
    ASSERT_NE(card, 0u);
    const uint64_t delay = AudioConvertNanosToHostTime(300000000);
    const MIDITimeStamp before = AudioGetCurrentHostTime();
    const MIDITimeStamp stamp = before + delay;
    ASSERT_EQ(SendPacket(ours->output, card, { 0x90, 60, 100 }, stamp), 0);
    EXPECT_LT(AudioGetCurrentHostTime() - before, delay / 2) << "the sender does not wait for the stamp";
    MIDITimeStamp arrival = 0;
    ASSERT_EQ(raw->Read(3, 5000, &arrival), (std::vector<uint8_t> { 0x90, 60, 100 }));
    EXPECT_GE(arrival, stamp) << "early by " << Millis(stamp - arrival) << " ms";
    EXPECT_LT(arrival, stamp + AudioConvertNanosToHostTime(2000000000)) << "far too late";
    std::printf("a packet stamped 300 ms ahead arrived %.2f ms after its stamp\n", Millis(arrival - stamp));

    // Stamps, not the order of the calls, decide; equal stamps keep the order of the calls.
    const MIDITimeStamp now = AudioGetCurrentHostTime();
    ASSERT_EQ(SendPacket(ours->output, card, { 0xB0, 7, 1 }, now + delay), 0);
    ASSERT_EQ(SendPacket(ours->output, card, { 0xC0, 2 }, now + delay / 2), 0);
    ASSERT_EQ(SendPacket(ours->output, card, { 0xE0, 0, 64 }, now + delay), 0);
    EXPECT_EQ(raw->Read(8, 5000), (std::vector<uint8_t> { 0xC0, 2, 0xB0, 7, 1, 0xE0, 0, 64 }));
    // A stamp beyond what the sequencer's clock can hold is refused, not accepted and never delivered.
    for (const MIDITimeStamp far : { UINT64_MAX, AudioGetCurrentHostTime() + (uint64_t(1) << 63) })
        EXPECT_EQ(SendPacket(ours->output, card, { 0x90, 61, 1 }, far), kMIDIErrMessageSend);

    SysexRequest block(card, Sysex(1000, 9));
    const MIDITimeStamp start = AudioGetCurrentHostTime();
    ASSERT_EQ(MIDISendSysex(&block.request), 0);
    EXPECT_LT(Millis(AudioGetCurrentHostTime() - start), 150.0) << "the request returns at once";
    // It leaves through a route of its own: closing our output meanwhile does not break it off.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_EQ(MIDIPortDispose(ours->output), 0);
    EXPECT_TRUE(raw->Read(block.bytes.size(), 10000) == block.bytes) << "the bytes arrive unchanged";
    ASSERT_TRUE(block.Completes(5000)) << "no completion";
    EXPECT_TRUE(block.request.complete.load());
    EXPECT_EQ(block.calls.load(), 1);
    EXPECT_FALSE(block.onTestThread.load()) << "completion runs on the service's thread";
    EXPECT_EQ(block.request.bytesToSend, 0u);
    EXPECT_EQ(block.request.data, block.bytes.data() + block.bytes.size());
}

// What is left of a refused send and its refusal itself are tested through the MIDI manager
// (tests/vm/midi); here a dump larger than the receiver's whole input, which could only overflow it.
TEST_F(AlsaSequencer, ARefusedSendLeavesNothingBehind)
{
    OtherProgram stalled("Stalled receiver");
    const MIDIEndpointRef card = OpenCard();
    const MIDIEndpointRef receiver = FindEndpoint(false, "Stalled receiver");
    ASSERT_TRUE(card != 0 && receiver != 0);

    const MIDITimeStamp start = AudioGetCurrentHostTime();
    EXPECT_EQ(SendPacket(ours->output, receiver, Sysex(8000, 4), 0), kMIDIErrMessageSend);
    EXPECT_LT(MillisSince(start), 1000.0);
    EXPECT_EQ(stalled.Heard(1, 300), 0u);
    EXPECT_FALSE(stalled.Overflowed()) << "none of it was written";
    const std::vector<uint8_t> message = Sysex(546, 3);
    ASSERT_EQ(SendPacket(ours->output, card, message, 0), 0);
    EXPECT_TRUE(raw->Read(message.size(), 5000) == message) << "a healthy port gets the message whole";

    // A SysEx goes on across packets, down to its shortest pieces; an end whose start never came
    // this way reaches nothing and is refused, and the next message still arrives whole.
    ASSERT_EQ(SendPacket(ours->output, card, {0xF0, 0x7D}, 0), 0);
    ASSERT_EQ(SendPacket(ours->output, card, {0x12, 0xF7}, 0), 0);
    ASSERT_EQ(SendPacket(ours->output, card, {0xF0, 0xF7}, 0), 0);
    EXPECT_EQ(raw->Read(6, 3000), (std::vector<uint8_t>{0xF0, 0x7D, 0x12, 0xF7, 0xF0, 0xF7}));
    EXPECT_EQ(SendPacket(ours->output, card, {0x12, 0xF7}, 0), kMIDIErrMessageSend);
    EXPECT_EQ(SendPacket(ours->output, card, {0xF7}, 0), kMIDIErrMessageSend);
    ASSERT_EQ(SendPacket(ours->output, card, message, 0), 0);
    EXPECT_TRUE(raw->Read(message.size(), 5000) == message);
    EXPECT_TRUE(raw->Read(1, 300).empty()) << "nothing else came";
}

TEST_F(AlsaSequencer, WhatWaitsForAClosedPortReachesItsDestinationAndNoOther)
{
    const std::vector<std::string> before = OurPortsInKernel();
    // Each send goes through a new output port of ours, which closes when the next one opens (the
    // last stays open). Paced sends follow the previous one to the same program at wire speed, as
    // SEND's do; each program starts when its turn first comes.
    const int paced = -1;
    struct Step
    {
        int to;           // program 0, 1 or 2
        size_t bytes;     // 546: a settings message; 3: a note
        int aheadMs;      // or paced
    };
    struct Sequence
    {
        const char* what;
        std::vector<Step> steps;
        size_t heard[3];  // SysEx bytes plus other events
    };
    std::vector<Step> cycles;
    for (int i = 0; i < 12; ++i)
        cycles.push_back({ i % 2, 546, paced });
    cycles.push_back({ 2, 546, 0 });
    const Sequence sequences[] = {
        { "two SENDs to A, a SEND to B", { { 0, 546, paced }, { 0, 546, paced }, { 1, 546, 0 } }, { 1092, 546, 0 } },
        { "a SysEx 1.5 s ahead to A, a note to B", { { 0, 546, 1500 }, { 1, 3, 0 } }, { 546, 1, 0 } },
        { "12 SENDs to A and B, one to a new program", cycles, { 6 * 546, 6 * 546, 546 } },
    };
    for (const Sequence& sequence : sequences)
    {
        std::unique_ptr<OtherProgram> programs[3];
        MIDIEndpointRef destinations[3] = {};
        MIDITimeStamp next[3] = {};
        MIDIPortRef port = 0;
        for (const Step& step : sequence.steps)
        {
            const std::string name = "Program " + std::to_string(step.to);
            if (!programs[step.to])
            {
                programs[step.to] = std::make_unique<OtherProgram>(name.c_str());
                destinations[step.to] = FindEndpoint(false, name);
            }
            const MIDITimeStamp now = AudioGetCurrentHostTime();
            MIDITimeStamp stamp = now + AudioConvertNanosToHostTime(uint64_t(std::max(step.aheadMs, 0)) * 1000000u);
            if (step.aheadMs == paced)
                next[step.to] = (stamp = std::max(now, next[step.to])) + AudioConvertNanosToHostTime(546 * 320000u);
            ASSERT_TRUE(port == 0 || MIDIPortDispose(port) == 0);
            ASSERT_EQ(MIDIOutputPortCreate(ours->client, SysString("Output port").get(), &port), 0);
            EXPECT_EQ(SendPacket(port, destinations[step.to], step.bytes == 3 ? std::vector<uint8_t> { 0x90, 60, 1 }
                                                                              : Sysex(546, 1),
                                 stamp),
                      0) << sequence.what;
        }
        for (int i = 0; i < 3; ++i)
        {
            OtherProgram* const program = programs[i].get();
            const size_t heard = program ? program->Heard(sequence.heard[i], 3000) + program->Heard(SIZE_MAX, 500) : 0;
            EXPECT_EQ(heard, sequence.heard[i]) << sequence.what << ", program " << i;
        }
        ASSERT_EQ(MIDIPortDispose(port), 0);
    }
    ExpectNothingLeft(before, "routes end once their events have left");
}

TEST_F(AlsaSequencer, ASendOurQueueCannotHoldIsTakenBackWholeAndAlone)
{
    OtherProgram waiting("Waiting");
    const MIDIEndpointRef card = OpenCard();
    ASSERT_NE(card, 0u);
    // A note due in 3 s through another port, then enough sends that the refused one below is the
    // 256th send of the client.
    MIDIPortRef other = 0;
    ASSERT_EQ(MIDIOutputPortCreate(ours->client, SysString("Output port").get(), &other), 0);
    const MIDITimeStamp start = AudioGetCurrentHostTime();
    ASSERT_EQ(SendPacket(other, FindEndpoint(false, "Waiting"), { 0x90, 60, 1 },
                         start + AudioConvertNanosToHostTime(3000000000u)),
              0);
    for (uint8_t i = 0; i < 254; ++i)
        ASSERT_EQ(SendPacket(ours->output, card, { static_cast<uint8_t>(0xB0 | (i & 1)), 7, 1 }, 0), 0) << i;
    EXPECT_EQ(raw->Read(3 * 254, 5000).size(), 3u * 254);

    // 65535 bytes due in 1 s need more room in our queue than there is: the send waits a little
    // for room, is refused, and what it had put in the queue is taken out again, and nothing else.
    const MIDITimeStamp refusal = AudioGetCurrentHostTime();
    EXPECT_EQ(SendPacket(ours->output, card, Sysex(65535, 6), refusal + AudioConvertNanosToHostTime(1000000000u)),
              kMIDIErrMessageSend);
    EXPECT_LT(MillisSince(refusal), 1000.0);
    EXPECT_TRUE(raw->Read(1, 2000).empty()) << "nothing of the refused send arrives";
    EXPECT_EQ(waiting.Heard(1, 3000), 1u) << "another send's note still comes";
    const std::vector<uint8_t> message = Sysex(546, 7);
    ASSERT_EQ(SendPacket(ours->output, card, message, 0), 0);
    EXPECT_TRUE(raw->Read(message.size(), 5000) == message);

    // A port closed while our queue is full cannot queue the end of its route then (a destination
    // no other port sends to); the route still ends once the queue has room, though no other
    // route ends meanwhile.
    const std::vector<std::string> before = OurPortsInKernel();
    const MIDIEndpointRef secondCard = FindEndpoint(false, "VirMIDI 0-1");
    ASSERT_NE(secondCard, 0u);
    MIDIPortRef closing = 0;
    ASSERT_EQ(MIDIOutputPortCreate(ours->client, SysString("Output port").get(), &closing), 0);
    std::vector<uint8_t> notes;
    for (int i = 0; i < 2000; ++i)
        notes.insert(notes.end(), { 0x90, 60, 1 });
    const MIDITimeStamp later = AudioGetCurrentHostTime() + AudioConvertNanosToHostTime(2000000000u);
    ASSERT_EQ(SendPacket(closing, secondCard, notes, later), 0);
    ASSERT_EQ(MIDIPortDispose(closing), 0);
    ASSERT_EQ(SendPacket(ours->output, card, { 0x90, 61, 1 }, later), kMIDIErrMessageSend)
        << "our queue is still full";
    WaitFor([&] { return OurPortsInKernel() == before; }, 5000);
    EXPECT_EQ(OurPortsInKernel(), before) << "the closed port's route ends";
}

TEST_F(AlsaSequencer, RoutesEndWithTheirLastUseWhileClosesRaceSends)
{
    OtherProgram programs[2] = { OtherProgram("Alpha"), OtherProgram("Bravo") };
    const MIDIEndpointRef to[2] = { FindEndpoint(false, "Alpha"), FindEndpoint(false, "Bravo") };
    ASSERT_TRUE(to[0] != 0 && to[1] != 0);
    const std::vector<std::string> before = OurPortsInKernel();
    ASSERT_FALSE(before.empty());

    // Two threads send notes to both programs through whichever port is the latest while this one
    // opens a new port and closes the one before, again and again; a third reads what arrives.
    std::atomic<MIDIPortRef> latest { 0 };
    std::atomic<bool> done { false };
    std::atomic<size_t> sent[2] = { { 0 }, { 0 } };
    size_t heard[2] = { 0, 0 };
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
        threads.emplace_back([&] {
            while (!done)
            {
                const MIDIPortRef port = latest.load();
                for (int p = 0; p < 2; ++p)
                    sent[p] += SendPacket(port, to[p], { 0x90, 60, 1 }, 0) == 0 ? 1u : 0u;
            }
        });
    threads.emplace_back([&] {
        while (!done)
            for (int p = 0; p < 2; ++p)
                heard[p] += programs[p].Heard(SIZE_MAX, 1);
    });
    for (int i = 0; i < 1000; ++i)
    {
        MIDIPortRef port = 0;
        EXPECT_EQ(MIDIOutputPortCreate(ours->client, SysString("Output port").get(), &port), 0);
        const MIDIPortRef previous = latest.exchange(port);
        EXPECT_TRUE(previous == 0 || MIDIPortDispose(previous) == 0);
    }
    done = true;
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(MIDIPortDispose(latest.load()), 0);
    std::printf("%zu and %zu notes sent while 1000 ports came and went\n", sent[0].load(), sent[1].load());
    for (int p = 0; p < 2; ++p)
    {
        EXPECT_EQ(heard[p] + programs[p].Heard(SIZE_MAX, 500), sent[p].load()) << "each hears what was sent to it";
        EXPECT_FALSE(programs[p].Overflowed()) << "a reader that falls behind is never overflowed";
    }
    ExpectNothingLeft(before, "no route or port is left");

    // SysEx requests to programs that end after them leave nothing behind either.
    for (int i = 0; i < 50; ++i)
    {
        const std::string name = "Leaving " + std::to_string(i);
        OtherProgram leaving(name.c_str());
        SysexRequest request(FindEndpoint(false, name), Sysex(20, 2));
        ASSERT_EQ(MIDISendSysex(&request.request), 0) << name;
        ASSERT_TRUE(request.Completes(2000)) << name;
        EXPECT_EQ(leaving.Heard(20, 1000), 20u) << name;
    }
    ExpectNothingLeft(before, "no SysEx route is left");
}

TEST_F(AlsaSequencer, RoutesRetiredWhileAnotherProgramOverflowsOurInputStillEnd)
{
    OtherProgram programs[2] = { OtherProgram("Alpha"), OtherProgram("Bravo") };
    const MIDIEndpointRef to[2] = { FindEndpoint(false, "Alpha"), FindEndpoint(false, "Bravo") };
    ASSERT_TRUE(to[0] != 0 && to[1] != 0);
    // Our receive thread is held in a read routine while the end markers of retired routes come
    // back and another program floods our input past its end: the kernel drops all that waited.
    struct Hold
    {
        std::atomic<int> entered { 0 };
        std::atomic<int> released { 0 };
        MIDIPortRef input = 0;
        // Lets the receive thread go and waits until it has left the routine.
        ~Hold()
        {
            released = INT_MAX;
            EXPECT_EQ(MIDIPortDispose(input), 0);
        }
    } hold;
    ASSERT_EQ(MIDIInputPortCreate(ours->client, SysString("Held input").get(),
                                  [](const MIDIPacketList*, void* refCon, void*) {
                                      auto* self = static_cast<Hold*>(refCon);
                                      const int entry = ++self->entered;
                                      while (self->released < entry)
                                          std::this_thread::sleep_for(std::chrono::milliseconds(1));
                                  },
                                  &hold, &hold.input),
              0);
    ASSERT_EQ(MIDIPortConnectSource(hold.input, FindEndpoint(true, VirmidiPort), nullptr), 0);
    RawMidi card(RawDevice, O_WRONLY);
    OtherProgram flood("Flood");
    const snd_seq_addr_t target = flood.Find(kPortClientName, "Held input");
    ASSERT_NE(target.client, static_cast<unsigned char>(-1));
    const std::vector<std::string> before = OurPortsInKernel();

    // Each cycle retires two routes (the closed output port's own and the one it made) and sees
    // their ports go; the 300 cycles after the first show that nothing piles up.
    for (int cycle = 1; cycle <= 301; ++cycle)
    {
        ASSERT_TRUE(card.Write({ 0x90, 60, 1 }));
        ASSERT_TRUE(WaitFor([&] { return hold.entered == cycle; }, 5000)) << cycle;
        MIDIPortRef port = 0;
        ASSERT_EQ(MIDIOutputPortCreate(ours->client, SysString("Output port").get(), &port), 0) << cycle;
        const MIDITimeStamp soon = AudioGetCurrentHostTime() + AudioConvertNanosToHostTime(20000000u);
        for (const MIDIEndpointRef destination : to)
            ASSERT_EQ(SendPacket(port, destination, { 0x90, 60, 1 }, soon), 0) << cycle;
        ASSERT_EQ(MIDIPortDispose(port), 0);
        ASSERT_TRUE(flood.Flood(target, 4000)) << "our input did not overflow, cycle " << cycle;
        for (OtherProgram& program : programs)   // the markers left the queue right after the notes
            ASSERT_EQ(program.Heard(1, 3000), 1u) << cycle;
        hold.released = cycle;
        ASSERT_TRUE(WaitFor([&] { return OurPortsInKernel() == before; }, 3000))
            << "cycle " << cycle << ": the retired routes' ports stay after the flood";
    }
}

TEST_F(AlsaSequencer, OurOwnClientsAreNoNewsAndLostAnnouncementsAskForAFullListing)
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
    Notes second;   // each listener of ours sees the same exits on its own
    MIDIClientRef secondListener = 0;
    ASSERT_EQ(MIDIClientCreate(SysString("Second listener").get(), proc, &second, &secondListener), 0);
    Pump(300);
    notes.ids.clear();
    {
        PortClient another;   // our own clients and ports are no news
        Pump(500);
    }
    Pump(300);
    EXPECT_TRUE(notes.ids.empty() && second.ids.empty())
        << notes.ids.size() << " and " << second.ids.size() << " notifications about our own client";
    ASSERT_EQ(MIDIClientDispose(secondListener), 0);
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
