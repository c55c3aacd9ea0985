#pragma once
// How sequencer ports become the endpoints, entities and devices of CoreMidi.h: the object
// references, which ports count as sources and destinations, and the stable unique IDs.

#include "platform/CoreMidi.h"

#include <alsa/asoundlib.h>

#include <set>
#include <string>
#include <vector>

namespace Alsa {

// The top byte of a reference tells what it names; the lower bytes hold a counter (clients and
// ports) or a sequencer address (the others), so no reference is ever 0.
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

// Whether the port of another program is a source (readable) or a destination (writable) for us.
bool IsEndpointPort(const snd_seq_port_info_t* info, bool source);

// The sources or destinations of the sequencer, ordered by client and port number, without the
// System client and the clients in ownClients.
std::vector<Address> ListEndpoints(snd_seq_t* seq, bool sources, const std::set<int>& ownClients);

// A 32-bit ID made from names alone, so it survives the new client and port numbers a device gets
// when it is plugged in again; never 0 or -1. portName is empty for a device.
MIDIUniqueID StableUniqueId(ObjectKind kind, const std::string& clientName, const std::string& portName);

} // namespace Alsa
