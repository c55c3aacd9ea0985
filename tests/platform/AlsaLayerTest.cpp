// What the ALSA layer decides without a sequencer: references, endpoint rules, unique IDs, and how
// it behaves on a machine that has no sequencer at all.

#include "platform/AlsaEndpoints.h"
#include "platform/CoreMidi.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include <unistd.h>

using Alsa::Address;
using Alsa::ObjectKind;

TEST(AlsaLayer, ReferencesCarryKindAndAddress)
{
    for (ObjectKind kind : { ObjectKind::Source, ObjectKind::Destination, ObjectKind::Entity, ObjectKind::Device })
        for (Address address : { Address { 0, 0 }, Address { 14, 0 }, Address { 191, 255 } })
        {
            const MIDIObjectRef ref = Alsa::AddressRef(kind, address);
            EXPECT_NE(ref, 0u) << "no reference is 0";
            EXPECT_EQ(Alsa::KindOf(ref), kind);
            EXPECT_EQ(Alsa::AddressOf(ref).client, address.client);
            EXPECT_EQ(Alsa::AddressOf(ref).port, address.port);
        }
    EXPECT_NE(Alsa::AddressRef(ObjectKind::Source, { 20, 0 }), Alsa::AddressRef(ObjectKind::Destination, { 20, 0 }));
    EXPECT_NE(Alsa::MakeRef(ObjectKind::Client, 1), Alsa::MakeRef(ObjectKind::Port, 1));
    EXPECT_EQ(Alsa::KindOf(0), ObjectKind::None);
    EXPECT_EQ(Alsa::KindOf(0x7F000001u), ObjectKind::None) << "an unknown kind byte";
}

namespace {

struct PortInfoFree
{
    void operator()(snd_seq_port_info_t* info) const { snd_seq_port_info_free(info); }
};

std::unique_ptr<snd_seq_port_info_t, PortInfoFree> PortInfo(unsigned caps, unsigned type)
{
    snd_seq_port_info_t* info = nullptr;
    snd_seq_port_info_malloc(&info);
    snd_seq_port_info_set_capability(info, caps);
    snd_seq_port_info_set_type(info, type);
    return std::unique_ptr<snd_seq_port_info_t, PortInfoFree>(info);
}

const unsigned kReadable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
const unsigned kWritable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

} // namespace

TEST(AlsaLayer, WhichPortsAreEndpoints)
{
    // A through port or a card's port: both directions.
    auto through = PortInfo(kReadable | kWritable, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SOFTWARE
                                                       | SND_SEQ_PORT_TYPE_PORT);
    EXPECT_TRUE(Alsa::IsEndpointPort(through.get(), true));
    EXPECT_TRUE(Alsa::IsEndpointPort(through.get(), false));

    // A program's output port is a source only; programs may give only the application type.
    auto appOut = PortInfo(kReadable, SND_SEQ_PORT_TYPE_APPLICATION);
    EXPECT_TRUE(Alsa::IsEndpointPort(appOut.get(), true));
    EXPECT_FALSE(Alsa::IsEndpointPort(appOut.get(), false));
    auto synth = PortInfo(kWritable, SND_SEQ_PORT_TYPE_SYNTHESIZER | SND_SEQ_PORT_TYPE_HARDWARE);
    EXPECT_FALSE(Alsa::IsEndpointPort(synth.get(), true));
    EXPECT_TRUE(Alsa::IsEndpointPort(synth.get(), false));

    // Ports like ours, which let nobody else subscribe, are none.
    auto ours = PortInfo(SND_SEQ_PORT_CAP_READ, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    EXPECT_FALSE(Alsa::IsEndpointPort(ours.get(), true));
    EXPECT_FALSE(Alsa::IsEndpointPort(ours.get(), false));

    // Neither are ports that refuse export, nor service ports such as the System timer.
    auto hidden = PortInfo(kReadable | kWritable | SND_SEQ_PORT_CAP_NO_EXPORT, SND_SEQ_PORT_TYPE_MIDI_GENERIC);
    EXPECT_FALSE(Alsa::IsEndpointPort(hidden.get(), true));
    auto timer = PortInfo(kReadable | kWritable, 0);
    EXPECT_FALSE(Alsa::IsEndpointPort(timer.get(), true));
    EXPECT_FALSE(Alsa::IsEndpointPort(timer.get(), false));
}

TEST(AlsaLayer, UniqueIdsAreStableAndNeverNoneValues)
{
    const MIDIUniqueID virmidi = Alsa::StableUniqueId(ObjectKind::Entity, "Virtual Raw MIDI 1-0", "VirMIDI 1-0");
    EXPECT_EQ(virmidi, Alsa::StableUniqueId(ObjectKind::Entity, "Virtual Raw MIDI 1-0", "VirMIDI 1-0"))
        << "the same names give the same ID";
    EXPECT_NE(virmidi, Alsa::StableUniqueId(ObjectKind::Entity, "Virtual Raw MIDI 1-1", "VirMIDI 1-1"));
    EXPECT_NE(virmidi, Alsa::StableUniqueId(ObjectKind::Device, "Virtual Raw MIDI 1-0", "VirMIDI 1-0"))
        << "an entity and its device differ";
    EXPECT_NE(Alsa::StableUniqueId(ObjectKind::Entity, "ab", "c"), Alsa::StableUniqueId(ObjectKind::Entity, "a", "bc"))
        << "the border between client and port name counts";

    std::set<MIDIUniqueID> seen;
    for (int i = 0; i < 5000; ++i)
    {
        const std::string client = "Client " + std::to_string(i % 97);
        const std::string port = "Port " + std::to_string(i);
        const MIDIUniqueID id = Alsa::StableUniqueId(ObjectKind::Entity, client, port);
        ASSERT_NE(id, 0) << client << " / " << port;
        ASSERT_NE(id, -1) << client << " / " << port;
        seen.insert(id);
    }
    EXPECT_GE(seen.size(), 4995u) << "IDs spread";
}

TEST(AlsaLayer, WithoutSequencer)
{
    if (access("/dev/snd/seq", F_OK) == 0)
        GTEST_SKIP() << "this machine has a sequencer; the VM test covers it";

    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();

    MIDIClientRef client = 123;
    EXPECT_EQ(MIDIClientCreate(SysString("Vusk's MIDI subsystem").get(), nullptr, nullptr, &client),
              kMIDIErrServerStart);
    EXPECT_EQ(client, 0u);
    EXPECT_EQ(MIDIGetNumberOfSources(), 0u);
    EXPECT_EQ(MIDIGetNumberOfDestinations(), 0u);
    EXPECT_EQ(MIDIGetSource(0), 0u);
    EXPECT_EQ(MIDIGetDestination(0), 0u);

    MIDIPortRef port = 77;
    EXPECT_EQ(MIDIOutputPortCreate(client, SysString("Output port").get(), &port), kMIDIErrInvalidClient);
    EXPECT_EQ(port, 0u);
    EXPECT_EQ(MIDIInputPortCreate(client, SysString("Input port").get(), [](const MIDIPacketList*, void*, void*) {},
                                  nullptr, &port),
              kMIDIErrInvalidClient);
    EXPECT_EQ(MIDIClientDispose(client), kMIDIErrInvalidClient);

    const MIDIEndpointRef made = Alsa::AddressRef(ObjectKind::Destination, { 20, 0 });
    SysString name("x");
    EXPECT_EQ(MIDIObjectGetStringProperty(made, kMIDIPropertyName, name.receive()), kMIDIErrObjectNotFound);
    EXPECT_EQ(name.get(), nullptr);
    int32_t id = 5;
    EXPECT_EQ(MIDIObjectGetIntegerProperty(made, kMIDIPropertyUniqueID, &id), kMIDIErrObjectNotFound);
    MIDIEntityRef entity = 9;
    EXPECT_EQ(MIDIEndpointGetEntity(made, &entity), kMIDIErrObjectNotFound);
    EXPECT_EQ(entity, 0u);

    uint8_t buffer[64];
    auto* list = reinterpret_cast<MIDIPacketList*>(buffer);
    const uint8_t noteOn[] = { 0x90, 60, 100 };
    MIDIPacketListAdd(list, sizeof buffer, MIDIPacketListInit(list), 0, 3, noteOn);
    EXPECT_EQ(MIDISend(port, made, list), kMIDIErrInvalidPort);

    MIDISysexSendRequest request {};
    const uint8_t sysex[] = { 0xF0, 0x7D, 0xF7 };
    request.destination = made;
    request.data = sysex;
    request.bytesToSend = sizeof sysex;
    EXPECT_EQ(MIDISendSysex(&request), kMIDIErrInvalidPort) << "no output port to send through";
    EXPECT_FALSE(request.complete.load());

    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(out + err, "") << "nothing is printed on a machine without sequencer";
}

TEST(AlsaLayer, RefusesWrongArguments)
{
    const SysString name("x");
    EXPECT_EQ(MIDIClientCreate(name.get(), nullptr, nullptr, nullptr), kMIDIErrParameter);
    MIDIPortRef port = 0;
    EXPECT_EQ(MIDIInputPortCreate(0, name.get(), nullptr, nullptr, &port), kMIDIErrParameter) << "no read routine";
    EXPECT_EQ(MIDIOutputPortCreate(0, name.get(), nullptr), kMIDIErrParameter);
    EXPECT_EQ(MIDISend(0, 0, nullptr), kMIDIErrParameter);
    EXPECT_EQ(MIDISendSysex(nullptr), kMIDIErrParameter);
    EXPECT_EQ(MIDIPortDispose(0), kMIDIErrInvalidPort);
    EXPECT_EQ(MIDIPortConnectSource(0, 0, nullptr), kMIDIErrInvalidPort);
    EXPECT_EQ(MIDIPortDisconnectSource(0, 0), kMIDIErrInvalidPort);

    SysString text;
    const MIDIEndpointRef source = Alsa::AddressRef(ObjectKind::Source, { 20, 0 });
    EXPECT_EQ(MIDIObjectGetStringProperty(source, SysString("colour").get(), text.receive()), kMIDIErrUnknownProperty);
    EXPECT_EQ(MIDIObjectGetStringProperty(source, nullptr, text.receive()), kMIDIErrParameter);
    int32_t value = 0;
    EXPECT_EQ(MIDIObjectGetIntegerProperty(source, kMIDIPropertyName, &value), kMIDIErrUnknownProperty)
        << "the name is no number";
    MIDISysexSendRequest request {};
    request.destination = source;
    EXPECT_EQ(MIDISendSysex(&request), kMIDIErrWrongEndpointType) << "SysEx goes to a destination";
}
