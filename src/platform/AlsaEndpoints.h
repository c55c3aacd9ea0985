#pragma once
// How sequencer ports become the endpoints, entities and devices of CoreMidi.h: the object
// references, which ports count as sources and destinations, and the stable unique IDs.

#include "platform/CoreMidi.h"

#include <alsa/asoundlib.h>

#include <set>
#include <string>
#include <vector>

namespace Alsa {

// The top byte of a reference tells what it names; the lower bytes hold a counter (clients, ports,
// sources and destinations) or a sequencer address (entities and devices), so no reference is
// ever 0.
enum class ObjectKind : uint8_t
{
    None = 0,
    Client = 1,
    Port = 2,
    Source = 3,
    Destination = 4,
    Entity = 5,
    Device = 6
};

struct Address
{
    int client;
    int port;
};

// One int per sequencer address, for maps.
inline int AddressKey(Address address)
{
    return address.client << 8 | address.port;
}

ObjectKind KindOf(MIDIObjectRef ref);
MIDIObjectRef MakeRef(ObjectKind kind, uint32_t number);       // number below 2^24
MIDIObjectRef AddressRef(ObjectKind kind, Address address);
Address AddressOf(MIDIObjectRef ref);

// A port of another program as a source or destination: where it sits and its names there.
struct Endpoint
{
    Address address;
    std::string clientName;
    std::string portName;
};

// Whether the port of another program is a source (readable) or a destination (writable) for us.
bool IsEndpointPort(const snd_seq_port_info_t* info, bool source);

// The sources or destinations of the sequencer, ordered by client and port number, without the
// System client and the clients in ownClients.
std::vector<Endpoint> ListEndpoints(snd_seq_t* seq, bool sources, const std::set<int>& ownClients);

// Source and destination references name one port, not an address: the sequencer gives a freed
// client number to the next program that starts, so another port may sit at the address before
// anyone has listed the ports again. The same port keeps its reference; a port with other names
// at the address gets another one. 0 once the process has made 2^24 of them.
MIDIEndpointRef EndpointRef(ObjectKind kind, const Endpoint& endpoint);
// The port the reference was made for; false for a number never handed out.
bool EndpointOfRef(MIDIEndpointRef ref, Endpoint& out);
// Whether the port at the endpoint's address is still the one its reference was made for; info
// then describes it.
bool IsStillThere(snd_seq_t* seq, const Endpoint& endpoint, snd_seq_port_info_t* info);

// A 32-bit ID made from names alone, so it survives the new client and port numbers a device gets
// when it is plugged in again; never 0 or -1. portName is empty for a device.
MIDIUniqueID StableUniqueId(ObjectKind kind, const std::string& clientName, const std::string& portName);

} // namespace Alsa
