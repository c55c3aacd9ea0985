#include "platform/AlsaClient.h"
#include "platform/AlsaEndpoints.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

// Never released: the keys live as long as the process.
const SysStringRef kMIDIPropertyName = SysStringCreate("name");
const SysStringRef kMIDIPropertyManufacturer = SysStringCreate("manufacturer");
const SysStringRef kMIDIPropertyModel = SysStringCreate("model");
const SysStringRef kMIDIPropertyUniqueID = SysStringCreate("uniqueID");

namespace Alsa {

ObjectKind KindOf(MIDIObjectRef ref)
{
    const uint32_t kind = ref >> 24;
    return kind >= static_cast<uint32_t>(ObjectKind::Client) && kind <= static_cast<uint32_t>(ObjectKind::Device)
               ? static_cast<ObjectKind>(kind)
               : ObjectKind::None;
}

MIDIObjectRef MakeRef(ObjectKind kind, uint32_t number)
{
    return static_cast<uint32_t>(kind) << 24 | (number & 0xFFFFFFu);
}

MIDIObjectRef AddressRef(ObjectKind kind, Address address)
{
    const uint32_t client = static_cast<uint32_t>(address.client) & 0xFFu;
    const uint32_t port = static_cast<uint32_t>(address.port) & 0xFFu;
    return MakeRef(kind, client << 8 | port);
}

Address AddressOf(MIDIObjectRef ref)
{
    return Address { static_cast<int>(ref >> 8 & 0xFF), static_cast<int>(ref & 0xFF) };
}

bool IsEndpointPort(const snd_seq_port_info_t* info, bool source)
{
    const unsigned caps = snd_seq_port_info_get_capability(info);
    const unsigned needed = source ? SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                                   : SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    if ((caps & needed) != needed || (caps & SND_SEQ_PORT_CAP_NO_EXPORT) != 0)
        return false;
    // Timer, announcement and other service ports carry none of these.
    const unsigned midiTypes = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_MIDI_GM
                               | SND_SEQ_PORT_TYPE_MIDI_GS | SND_SEQ_PORT_TYPE_MIDI_XG
                               | SND_SEQ_PORT_TYPE_MIDI_MT32 | SND_SEQ_PORT_TYPE_MIDI_GM2
                               | SND_SEQ_PORT_TYPE_SYNTH | SND_SEQ_PORT_TYPE_HARDWARE
                               | SND_SEQ_PORT_TYPE_SYNTHESIZER | SND_SEQ_PORT_TYPE_APPLICATION;
    return (snd_seq_port_info_get_type(info) & midiTypes) != 0;
}

std::vector<Endpoint> ListEndpoints(snd_seq_t* seq, bool sources, const std::set<int>& ownClients)
{
    std::vector<Endpoint> result;
    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_port_info_t* portInfo = nullptr;
    snd_seq_client_info_alloca(&clientInfo);
    snd_seq_port_info_alloca(&portInfo);
    snd_seq_client_info_set_client(clientInfo, -1);
    while (snd_seq_query_next_client(seq, clientInfo) >= 0)
    {
        const int client = snd_seq_client_info_get_client(clientInfo);
        if (client == SND_SEQ_CLIENT_SYSTEM || ownClients.count(client) != 0)
            continue;
        snd_seq_port_info_set_client(portInfo, client);
        snd_seq_port_info_set_port(portInfo, -1);
        while (snd_seq_query_next_port(seq, portInfo) >= 0)
            if (IsEndpointPort(portInfo, sources))
                result.push_back(Endpoint { Address { client, snd_seq_port_info_get_port(portInfo) },
                                            snd_seq_client_info_get_name(clientInfo),
                                            snd_seq_port_info_get_name(portInfo) });
    }
    return result;
}

namespace {

// Every endpoint a reference was made for, numbered in the order they were first listed. It grows
// by one entry for each new port or new names at an address, which a process meets a few of.
struct EndpointTable
{
    std::mutex mutex;
    std::vector<Endpoint> byNumber;
    std::map<std::tuple<int, std::string, std::string>, uint32_t> numbers;
};

EndpointTable& TheEndpointTable()
{
    static EndpointTable table;
    return table;
}

const uint32_t kEndpointNumbers = 1u << 24;

} // namespace

MIDIEndpointRef EndpointRef(ObjectKind kind, const Endpoint& endpoint)
{
    EndpointTable& table = TheEndpointTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto key = std::make_tuple(AddressKey(endpoint.address), endpoint.clientName, endpoint.portName);
    auto found = table.numbers.find(key);
    if (found != table.numbers.end())
        return MakeRef(kind, found->second);
    if (table.byNumber.size() >= kEndpointNumbers)
        return 0;
    const uint32_t number = static_cast<uint32_t>(table.byNumber.size());
    table.byNumber.push_back(endpoint);
    table.numbers.emplace(key, number);
    return MakeRef(kind, number);
}

bool EndpointOfRef(MIDIEndpointRef ref, Endpoint& out)
{
    EndpointTable& table = TheEndpointTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    const uint32_t number = ref & (kEndpointNumbers - 1);
    if (number >= table.byNumber.size())
        return false;
    out = table.byNumber[number];
    return true;
}

bool IsStillThere(snd_seq_t* seq, const Endpoint& endpoint, snd_seq_port_info_t* info)
{
    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_client_info_alloca(&clientInfo);
    return snd_seq_get_any_client_info(seq, endpoint.address.client, clientInfo) >= 0
           && snd_seq_get_any_port_info(seq, endpoint.address.client, endpoint.address.port, info) >= 0
           && endpoint.clientName == snd_seq_client_info_get_name(clientInfo)
           && endpoint.portName == snd_seq_port_info_get_name(info);
}

MIDIUniqueID StableUniqueId(ObjectKind kind, const std::string& clientName, const std::string& portName)
{
    // FNV-1a over the kind, the client name, a separator and the port name.
    uint32_t hash = 2166136261u;
    auto add = [&hash](uint8_t byte) {
        hash ^= byte;
        hash *= 16777619u;
    };
    add(static_cast<uint8_t>(kind));
    for (char c : clientName)
        add(static_cast<uint8_t>(c));
    add(0);
    for (char c : portName)
        add(static_cast<uint8_t>(c));
    // 0 and -1 read as "no ID" to the callers.
    if (hash == 0)
        hash = 1;
    else if (hash == 0xFFFFFFFFu)
        hash = 0xFFFFFFFEu;
    return static_cast<MIDIUniqueID>(hash);
}

namespace {

struct CtlCloser
{
    void operator()(snd_ctl_t* ctl) const { snd_ctl_close(ctl); }
};

// What the sequencer tells of an endpoint, entity or device.
struct ObjectFacts
{
    ObjectKind kind = ObjectKind::None;
    Address address {};
    std::string clientName;
    std::string portName;
    std::string model;
    std::string manufacturer;
};

// Property mapping: name is the port's name (the client's name for a device); a kernel client
// that belongs to a sound card has the card's name as model and the card's driver as manufacturer;
// other clients (user programs, "Midi Through") have neither.
void ReadCard(int card, ObjectFacts& facts)
{
    if (card < 0)
        return;
    const std::string device = "hw:" + std::to_string(card);
    snd_ctl_t* rawCtl = nullptr;
    if (snd_ctl_open(&rawCtl, device.c_str(), 0) < 0)
        return;
    std::unique_ptr<snd_ctl_t, CtlCloser> ctl(rawCtl);
    snd_ctl_card_info_t* info = nullptr;
    snd_ctl_card_info_alloca(&info);
    if (snd_ctl_card_info(ctl.get(), info) < 0)
        return;
    facts.model = snd_ctl_card_info_get_name(info);
    facts.manufacturer = snd_ctl_card_info_get_driver(info);
}

// 0, or kMIDIErrObjectNotFound when the reference names nothing that is there now (for a source or
// destination: when its port has gone, also when another port has taken its address).
OSStatus Describe(MIDIObjectRef ref, ObjectFacts& facts)
{
    facts.kind = KindOf(ref);
    const bool isEndpoint = facts.kind == ObjectKind::Source || facts.kind == ObjectKind::Destination;
    Endpoint endpoint;
    if (isEndpoint)
    {
        if (!EndpointOfRef(ref, endpoint))
            return kMIDIErrObjectNotFound;
        facts.address = endpoint.address;
    }
    else if (facts.kind == ObjectKind::Entity || facts.kind == ObjectKind::Device)
        facts.address = AddressOf(ref);
    else
        return kMIDIErrObjectNotFound;
    const Address address = facts.address;
    OSStatus status = kMIDIErrObjectNotFound;
    Client::Query([&](snd_seq_t* seq, const std::set<int>& ownClients) {
        if (ownClients.count(address.client) != 0 || address.client == SND_SEQ_CLIENT_SYSTEM)
            return;
        snd_seq_client_info_t* clientInfo = nullptr;
        snd_seq_client_info_alloca(&clientInfo);
        if (snd_seq_get_any_client_info(seq, address.client, clientInfo) < 0)
            return;
        facts.clientName = snd_seq_client_info_get_name(clientInfo);
        if (facts.kind != ObjectKind::Device)
        {
            snd_seq_port_info_t* portInfo = nullptr;
            snd_seq_port_info_alloca(&portInfo);
            if (snd_seq_get_any_port_info(seq, address.client, address.port, portInfo) < 0)
                return;
            if (isEndpoint && !IsEndpointPort(portInfo, facts.kind == ObjectKind::Source))
                return;
            facts.portName = snd_seq_port_info_get_name(portInfo);
        }
        if (isEndpoint && (facts.clientName != endpoint.clientName || facts.portName != endpoint.portName))
            return;
        if (snd_seq_client_info_get_type(clientInfo) == SND_SEQ_KERNEL_CLIENT)
            ReadCard(snd_seq_client_info_get_card(clientInfo), facts);
        status = 0;
    });
    return status;
}

std::vector<Endpoint> Endpoints(bool sources)
{
    std::vector<Endpoint> result;
    Client::Query([&](snd_seq_t* seq, const std::set<int>& ownClients) {
        result = ListEndpoints(seq, sources, ownClients);
    });
    return result;
}

} // namespace

} // namespace Alsa

using Alsa::ObjectKind;

size_t MIDIGetNumberOfSources()
{
    return Alsa::Endpoints(true).size();
}

size_t MIDIGetNumberOfDestinations()
{
    return Alsa::Endpoints(false).size();
}

MIDIEndpointRef MIDIGetSource(size_t index)
{
    const std::vector<Alsa::Endpoint> sources = Alsa::Endpoints(true);
    return index < sources.size() ? Alsa::EndpointRef(ObjectKind::Source, sources[index]) : 0;
}

MIDIEndpointRef MIDIGetDestination(size_t index)
{
    const std::vector<Alsa::Endpoint> destinations = Alsa::Endpoints(false);
    return index < destinations.size() ? Alsa::EndpointRef(ObjectKind::Destination, destinations[index]) : 0;
}

namespace {

std::vector<MIDIEndpointRef> AllEndpoints(bool sources)
{
    const ObjectKind kind = sources ? ObjectKind::Source : ObjectKind::Destination;
    std::vector<MIDIEndpointRef> refs;
    for (const Alsa::Endpoint& endpoint : Alsa::Endpoints(sources))
        refs.push_back(Alsa::EndpointRef(kind, endpoint));
    return refs;
}

} // namespace

std::vector<MIDIEndpointRef> MIDIGetAllSources()
{
    return AllEndpoints(true);
}

std::vector<MIDIEndpointRef> MIDIGetAllDestinations()
{
    return AllEndpoints(false);
}

OSStatus MIDIEndpointGetEntity(MIDIEndpointRef endpoint, MIDIEntityRef* outEntity)
{
    if (outEntity == nullptr)
        return kMIDIErrParameter;
    *outEntity = 0;
    const ObjectKind kind = Alsa::KindOf(endpoint);
    if (kind != ObjectKind::Source && kind != ObjectKind::Destination)
        return kMIDIErrUnknownEndpoint;
    Alsa::ObjectFacts facts;
    const OSStatus status = Alsa::Describe(endpoint, facts);
    if (status == 0)
        *outEntity = Alsa::AddressRef(ObjectKind::Entity, facts.address);
    return status;
}

OSStatus MIDIEntityGetDevice(MIDIEntityRef entity, MIDIDeviceRef* outDevice)
{
    if (outDevice == nullptr)
        return kMIDIErrParameter;
    *outDevice = 0;
    if (Alsa::KindOf(entity) != ObjectKind::Entity)
        return kMIDIErrObjectNotFound;
    Alsa::ObjectFacts facts;
    const OSStatus status = Alsa::Describe(entity, facts);
    if (status == 0)
        *outDevice = Alsa::AddressRef(ObjectKind::Device, Alsa::Address { Alsa::AddressOf(entity).client, 0 });
    return status;
}

namespace {

bool IsKey(SysStringRef property, SysStringRef key)
{
    return std::strcmp(SysStringGetCString(property), SysStringGetCString(key)) == 0;
}

} // namespace

OSStatus MIDIObjectGetStringProperty(MIDIObjectRef object, SysStringRef property, SysStringRef* out)
{
    if (out == nullptr || property == nullptr)
        return kMIDIErrParameter;
    *out = nullptr;
    const bool isName = IsKey(property, kMIDIPropertyName);
    const bool isModel = IsKey(property, kMIDIPropertyModel);
    const bool isManufacturer = IsKey(property, kMIDIPropertyManufacturer);
    if (!isName && !isModel && !isManufacturer)
        return kMIDIErrUnknownProperty;
    Alsa::ObjectFacts facts;
    const OSStatus status = Alsa::Describe(object, facts);
    if (status != 0)
        return status;
    const std::string& value = isName ? (facts.kind == ObjectKind::Device ? facts.clientName : facts.portName)
                               : isModel ? facts.model
                                         : facts.manufacturer;
    if (value.empty() && !isName)
        return kMIDIErrUnknownProperty;
    *out = SysStringCreate(value);
    return 0;
}

OSStatus MIDIObjectGetIntegerProperty(MIDIObjectRef object, SysStringRef property, int32_t* out)
{
    if (out == nullptr || property == nullptr)
        return kMIDIErrParameter;
    *out = 0;
    if (!IsKey(property, kMIDIPropertyUniqueID))
        return kMIDIErrUnknownProperty;
    Alsa::ObjectFacts facts;
    const OSStatus status = Alsa::Describe(object, facts);
    if (status != 0)
        return status;
    *out = Alsa::StableUniqueId(facts.kind, facts.clientName, facts.kind == ObjectKind::Device ? "" : facts.portName);
    return 0;
}
