// What the ALSA layer decides without a sequencer; the VM test covers a real one.

#include "platform/AlsaEndpoints.h"
#include "platform/AlsaReceiverRoom.h"
#include "platform/CoreMidi.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include <unistd.h>

using Alsa::ObjectKind;

TEST(AlsaLayer, ReferencesAndWhichPortsAreEndpoints)
{
    EXPECT_NE(Alsa::AddressRef(ObjectKind::Entity, { 0, 0 }), 0u) << "no reference is 0";
    EXPECT_EQ(Alsa::KindOf(0x7F000001u), ObjectKind::None) << "an unknown kind byte";

    // A program that ends frees its client number for the next one.
    const Alsa::Endpoint alpha { { 129, 0 }, "Alpha", "out" }, beta { { 129, 0 }, "Beta", "out" };
    const MIDIEndpointRef toAlpha = Alsa::EndpointRef(ObjectKind::Destination, alpha);
    EXPECT_EQ(Alsa::EndpointRef(ObjectKind::Destination, alpha), toAlpha) << "a port keeps its reference";
    EXPECT_NE(Alsa::EndpointRef(ObjectKind::Destination, beta), toAlpha) << "a newcomer at its address gets another";
    EXPECT_EQ(Alsa::KindOf(Alsa::EndpointRef(ObjectKind::Source, alpha)), ObjectKind::Source);
    Alsa::Endpoint named;
    ASSERT_TRUE(Alsa::EndpointOfRef(toAlpha, named));
    EXPECT_EQ(named.clientName + "/" + named.portName, "Alpha/out");
    EXPECT_FALSE(Alsa::EndpointOfRef(Alsa::MakeRef(ObjectKind::Destination, 0xFFFFFF), named)) << "never made";

    const unsigned readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    const unsigned writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    struct Case
    {
        const char* what;
        unsigned caps, type;
        bool source, destination;
    };
    const Case cases[] = {
        { "through port", readable | writable, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_PORT, true, true },
        { "program output with only the application type", readable, SND_SEQ_PORT_TYPE_APPLICATION, true, false },
        { "synthesizer", writable, SND_SEQ_PORT_TYPE_SYNTHESIZER | SND_SEQ_PORT_TYPE_HARDWARE, false, true },
        { "a port like ours, no subscriptions", SND_SEQ_PORT_CAP_READ, SND_SEQ_PORT_TYPE_MIDI_GENERIC, false, false },
        { "no export", readable | writable | SND_SEQ_PORT_CAP_NO_EXPORT, SND_SEQ_PORT_TYPE_MIDI_GENERIC, false, false },
        { "System timer (no type)", readable | writable, 0, false, false },
    };
    for (const Case& c : cases)
    {
        snd_seq_port_info_t* raw = nullptr;
        snd_seq_port_info_malloc(&raw);
        std::unique_ptr<snd_seq_port_info_t, void (*)(snd_seq_port_info_t*)> info(raw, snd_seq_port_info_free);
        snd_seq_port_info_set_capability(raw, c.caps);
        snd_seq_port_info_set_type(raw, c.type);
        EXPECT_EQ(Alsa::IsEndpointPort(raw, true), c.source) << c.what;
        EXPECT_EQ(Alsa::IsEndpointPort(raw, false), c.destination) << c.what;
    }
}

TEST(AlsaLayer, UniqueIdsAreStableAndNeverNoneValues)
{
    const auto id = [](ObjectKind kind, const char* client, const char* port) {
        return Alsa::StableUniqueId(kind, client, port);
    };
    const MIDIUniqueID virmidi = id(ObjectKind::Entity, "Virtual Raw MIDI 1-0", "VirMIDI 1-0");
    EXPECT_EQ(virmidi, id(ObjectKind::Entity, "Virtual Raw MIDI 1-0", "VirMIDI 1-0")) << "same names, same ID";
    EXPECT_NE(virmidi, id(ObjectKind::Entity, "Virtual Raw MIDI 1-1", "VirMIDI 1-1"));
    EXPECT_NE(virmidi, id(ObjectKind::Device, "Virtual Raw MIDI 1-0", "VirMIDI 1-0")) << "entity and device differ";
    EXPECT_NE(id(ObjectKind::Entity, "ab", "c"), id(ObjectKind::Entity, "a", "bc")) << "the name border counts";

    std::set<MIDIUniqueID> seen;
    for (int i = 0; i < 5000; ++i)
    {
        const std::string client = "Client " + std::to_string(i % 97), port = "Port " + std::to_string(i);
        const MIDIUniqueID each = Alsa::StableUniqueId(ObjectKind::Entity, client, port);
        ASSERT_TRUE(each != 0 && each != -1) << client << " / " << port << " gave a value meaning no ID";
        seen.insert(each);
    }
    EXPECT_GE(seen.size(), 4995u) << "IDs spread";
}

TEST(AlsaLayer, WithoutSequencerNoPortsAndQuietFailures)
{
    if (access("/dev/snd/seq", F_OK) == 0)
        GTEST_SKIP() << "this machine has a sequencer; the VM test covers it";
    MIDIClientRef client = 123;
    EXPECT_EQ(MIDIClientCreate(SysString("Vusk's MIDI subsystem").get(), nullptr, nullptr, &client),
              kMIDIErrServerStart);
    EXPECT_EQ(client, 0u);
    EXPECT_EQ(MIDIGetNumberOfSources() + MIDIGetNumberOfDestinations(), 0u);
    EXPECT_EQ(MIDIGetSource(0), 0u);
    MIDIPortRef port = 77;
    EXPECT_EQ(MIDIOutputPortCreate(client, SysString("Output port").get(), &port), kMIDIErrInvalidClient);
    EXPECT_EQ(port, 0u);
    SysString name("x");
    const MIDIEndpointRef made = Alsa::EndpointRef(ObjectKind::Destination, { { 20, 0 }, "Card", "Port" });
    EXPECT_EQ(MIDIObjectGetStringProperty(made, kMIDIPropertyName, name.receive()), kMIDIErrObjectNotFound);
    EXPECT_EQ(name.get(), nullptr);
    MIDISysexSendRequest request {};
    const uint8_t sysex[] = { 0xF0, 0x7D, 0xF7 };
    request.destination = made;
    request.data = sysex;
    request.bytesToSend = sizeof sysex;
    EXPECT_EQ(MIDISendSysex(&request), kMIDIErrInvalidClient) << "no client to send from";
    EXPECT_FALSE(request.complete.load()) << "a refused request is not complete";
    // That nothing is printed is checked with the back end on top (tests/midi/MidiPortMacTest.cpp).
}

TEST(AlsaLayer, ReceiverRoomCountsWhatOurQueuesStillHoldForEachReceiver)
{
    Alsa::ReceiverRoom room;
    const uint64_t ms = 1000000;
    size_t waiting[2] = { 0, 0 };   // events queues 0 and 1 still hold
    bool readable = true;
    const auto pending = [&](int receiver) {
        return Alsa::ReceiverRoom::Claim(room, receiver).Pending([&](int queue, size_t& events) {
            events = waiting[queue];
            return readable || queue == 0;
        });
    };
    {
        Alsa::ReceiverRoom::Claim claim(room, 130);
        claim.Add(0, 7, 100 * ms, 11);
        claim.Add(0, 8, 200 * ms, 25);
        claim.Add(0, 7, 100 * ms, 3);
        claim.Add(0, 9, 150 * ms, 4, false);   // for a driver: not counted, but in the queue's order
        claim.Add(0, 8, 180 * ms, 2);
        claim.Add(1, 8, 200 * ms, 1);          // another client's queue
    }
    Alsa::ReceiverRoom::Claim(room, 131).Add(0, 10, 300 * ms, 5);
    room.AddMarker(0, 50 * ms);
    waiting[0] = 7;
    waiting[1] = 1;
    EXPECT_EQ(pending(130), 42u);
    waiting[0] = 4;
    EXPECT_EQ(pending(130), 31u) << "the queue hands over by time, equal times in the order they came; the event "
                                    "before those still waiting may be on its way";
    waiting[0] = 3;
    readable = false;
    EXPECT_EQ(pending(130), 28u) << "a queue that cannot be read keeps what it logged";
    readable = true;
    room.Withdraw(0, 8, 200 * ms);
    waiting[0] = 2;
    EXPECT_EQ(pending(130), 3u) << "a withdrawal takes its send's events from its first time on, in its queue alone";
    EXPECT_EQ(pending(131), 5u) << "each receiver on its own";
    room.Forget(1);
    EXPECT_EQ(pending(130), 2u) << "a freed queue holds nothing";
}
