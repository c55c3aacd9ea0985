#pragma once
// Our MIDI service: clients, ports, endpoints, packet lists and notifications in the shape the MIDI
// library's back end calls them, implemented over the ALSA sequencer (Alsa*.cpp).
//
// Objects are named by non-zero 32-bit references; 0 means "none". Functions that can fail return
// an OSStatus: 0 for success, else one of the kMIDIErr... codes below.
//
// Endpoints are the sequencer ports of other programs and of kernel drivers: a source is a port
// one can subscribe to for reading, a destination one that accepts subscribed writes. Our own
// ports, the System client's and ports that are not MIDI ports are never endpoints. Each endpoint
// belongs to an entity (its port) and a device (its sequencer client). An endpoint reference names
// one port: its sequencer address together with the names of its client and port, so the same port
// keeps its reference and another port that later sits at the address (the sequencer hands freed
// client numbers on) gets a reference of its own. Sends, connections and properties check that
// the port at the address is still the one the reference was made for, and treat it as gone
// (kMIDIErrUnknownEndpoint, kMIDIErrObjectNotFound) otherwise. Entity and device references are
// made from the address alone and stay valid while the port is there.
//
// Threads: the read routine of an input port runs on the receive thread of the port's client; the
// completion routine of a SysEx request on the sending client's SysEx thread; notifications on the
// JUCE message thread. Nothing is called back after the disposal of its port or client returns
// (unless the disposal was made from inside that very callback).

#include "platform/SysString.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

typedef int32_t OSStatus;

typedef uint32_t MIDIObjectRef;
typedef MIDIObjectRef MIDIClientRef;
typedef MIDIObjectRef MIDIPortRef;
typedef MIDIObjectRef MIDIDeviceRef;
typedef MIDIObjectRef MIDIEntityRef;
typedef MIDIObjectRef MIDIEndpointRef;

// Host-clock ticks (HostClock.h).
typedef uint64_t MIDITimeStamp;
typedef int32_t MIDIUniqueID;

enum : OSStatus
{
    kMIDIErrInvalidClient = -10830,
    kMIDIErrInvalidPort = -10831,
    kMIDIErrWrongEndpointType = -10832,
    kMIDIErrNoConnection = -10833,
    kMIDIErrUnknownEndpoint = -10834,
    kMIDIErrUnknownProperty = -10835,
    kMIDIErrMessageSend = -10838,      // the sequencer refused an event
    kMIDIErrServerStart = -10839,      // no sequencer could be opened
    kMIDIErrWrongThread = -10841,      // a client disposed of from its own receive thread
    kMIDIErrObjectNotFound = -10842,
    kMIDIErrParameter = -50            // a null pointer where an object was needed
};

// ---- Packet lists -----------------------------------------------------------------------------
// A packet list is a 32-bit count followed by that many packets, each a 64-bit time stamp, a
// 16-bit length and that many data bytes, the next packet following right after the last byte
// (no padding). A packet may hold more than kMIDIPacketDataSize bytes: the array size is only the
// room of a packet list declared as a variable; larger lists live in byte buffers. The structures
// are packed, so read their fields by value; a reference or pointer to a field may be misaligned.
enum : size_t { kMIDIPacketDataSize = 256 };

#pragma pack(push, 1)
struct MIDIPacket
{
    MIDITimeStamp timeStamp;
    uint16_t length;
    uint8_t data[kMIDIPacketDataSize];
};

struct MIDIPacketList
{
    uint32_t numPackets;
    MIDIPacket packet[1];
};
#pragma pack(pop)

// The byte count of a packet list that holds one packet of dataLength bytes.
constexpr size_t MIDIPacketListSizeFor(size_t dataLength)
{
    return sizeof(uint32_t) + sizeof(MIDITimeStamp) + sizeof(uint16_t) + dataLength;
}

inline const MIDIPacket* MIDIPacketNext(const MIDIPacket* packet)
{
    return reinterpret_cast<const MIDIPacket*>(packet->data + packet->length);
}

inline MIDIPacket* MIDIPacketNext(MIDIPacket* packet)
{
    return reinterpret_cast<MIDIPacket*>(packet->data + packet->length);
}

// Empties the list; returns its first packet, to be passed to MIDIPacketListAdd.
MIDIPacket* MIDIPacketListInit(MIDIPacketList* list);

// Adds nData bytes with the given time stamp after curPacket (the result of the previous Init or
// Add) in the list of listSize bytes. The bytes join curPacket when it has the same time stamp and
// neither it nor the new bytes begin a SysEx message (0xF0), else they start a new packet. Returns
// the packet that holds them, or null when they do not fit into listSize bytes, when nData is 0 or
// when a packet would grow beyond 65535 bytes.
MIDIPacket* MIDIPacketListAdd(MIDIPacketList* list, size_t listSize, MIDIPacket* curPacket,
                              MIDITimeStamp time, size_t nData, const uint8_t* data);

// ---- Properties -------------------------------------------------------------------------------
// Property keys; a key is known by its text, so any system string with the same text will do.
extern const SysStringRef kMIDIPropertyName;
extern const SysStringRef kMIDIPropertyManufacturer;
extern const SysStringRef kMIDIPropertyModel;
extern const SysStringRef kMIDIPropertyUniqueID;

// Name, manufacturer or model of an endpoint, entity or device, as a new string reference that the
// caller releases. kMIDIErrUnknownProperty when the object has no such property (a user program
// has no model), kMIDIErrObjectNotFound when it is gone; *out is then null.
OSStatus MIDIObjectGetStringProperty(MIDIObjectRef object, SysStringRef property, SysStringRef* out);

// The unique ID of an endpoint, entity or device: made from its names, so the same port keeps its
// ID across reconnections and restarts; never 0 or -1.
OSStatus MIDIObjectGetIntegerProperty(MIDIObjectRef object, SysStringRef property, int32_t* out);

// ---- Endpoints --------------------------------------------------------------------------------
// Counts and lists reflect the sequencer at the moment of the call; 0 when there is no sequencer.
size_t MIDIGetNumberOfSources();
size_t MIDIGetNumberOfDestinations();
MIDIEndpointRef MIDIGetSource(size_t index);           // 0 when there is none
MIDIEndpointRef MIDIGetDestination(size_t index);      // 0 when there is none
// Every source or destination from one listing of the sequencer, in index order. Each call above
// lists the whole sequencer, so a caller that walks all endpoints takes them from here instead.
// An element is 0 where no reference could be made.
std::vector<MIDIEndpointRef> MIDIGetAllSources();
std::vector<MIDIEndpointRef> MIDIGetAllDestinations();
OSStatus MIDIEndpointGetEntity(MIDIEndpointRef endpoint, MIDIEntityRef* outEntity);
OSStatus MIDIEntityGetDevice(MIDIEntityRef entity, MIDIDeviceRef* outDevice);

// ---- Notifications ----------------------------------------------------------------------------
enum MIDINotificationMessageID : int32_t
{
    kMIDIMsgSetupChanged = 1,      // something may have changed: notices were lost (our input
                                   // overflowed during a burst of changes), so list the ports anew
    kMIDIMsgObjectAdded = 2,       // a program or driver or one of its ports appeared
    kMIDIMsgObjectRemoved = 3,     // ... disappeared
    kMIDIMsgPropertyChanged = 4    // a program or port changed its name or abilities
};

struct MIDINotification
{
    MIDINotificationMessageID messageID;
    uint32_t messageSize;          // sizeof(MIDINotification)
};

typedef void (*MIDINotifyProc)(const MIDINotification* message, void* refCon);

// ---- Clients and ports ------------------------------------------------------------------------
// Opens a sequencer client that other programs see under the given name. With a notification
// routine, the client tells of ports of other programs that come and go, on the JUCE message thread
// (messages are dropped while no JUCE message manager exists). kMIDIErrServerStart when no
// sequencer can be opened; outClient is then 0.
OSStatus MIDIClientCreate(SysStringRef name, MIDINotifyProc notifyProc, void* notifyRefCon,
                          MIDIClientRef* outClient);

// Closes the client and disposes of its ports. Must not be called from the client's own read
// routines (kMIDIErrWrongThread).
OSStatus MIDIClientDispose(MIDIClientRef client);

// readProcRefCon is handed to every call of readProc; the connection context of
// MIDIPortConnectSource names the source the data came from. Packets carry the host time of arrival.
typedef void (*MIDIReadProc)(const MIDIPacketList* list, void* readProcRefCon, void* srcConnRefCon);

OSStatus MIDIInputPortCreate(MIDIClientRef client, SysStringRef portName, MIDIReadProc readProc,
                             void* readProcRefCon, MIDIPortRef* outPort);
OSStatus MIDIOutputPortCreate(MIDIClientRef client, SysStringRef portName, MIDIPortRef* outPort);
OSStatus MIDIPortConnectSource(MIDIPortRef port, MIDIEndpointRef source, void* connRefCon);
OSStatus MIDIPortDisconnectSource(MIDIPortRef port, MIDIEndpointRef source);
OSStatus MIDIPortDispose(MIDIPortRef port);

// ---- Sending ----------------------------------------------------------------------------------
// Delivers every packet of the list to the destination at its time stamp: at once when the stamp
// is not in the future, else the sequencer delivers it then; the call never waits. Packets whose
// time stamps do not go back in time arrive in the order they were sent. A stamp later than the
// sequencer's clock can hold (about 136 years ahead) is refused (kMIDIErrMessageSend). The
// destination stays subscribed from our client until the port is disposed of (drivers open their
// device only for a subscriber).
// Packets accepted are delivered to that destination or to nobody (when it has gone), never to
// another port, whatever ports of ours or of other programs open, close or take over addresses
// meanwhile; disposing of the port does not drop those still waiting for their time.
// A list that cannot go whole is refused (kMIDIErrMessageSend) within a bounded time: a receiving
// program that has stopped reading and lacks room gets none of it, and the packets of a refused
// list that already wait for their time are taken back, those of other lists never. Nothing of a
// refused list stays behind to burden later sends, to this destination or any other.
// A send that meets the port being disposed of on another thread either goes before the disposal
// or is refused (kMIDIErrInvalidPort).
OSStatus MIDISend(MIDIPortRef port, MIDIEndpointRef destination, const MIDIPacketList* list);

struct MIDISysexSendRequest;
typedef void (*MIDICompletionProc)(MIDISysexSendRequest* request);

// Request of an asynchronous SysEx transfer. While the transfer runs, data and bytesToSend move on
// as the bytes go out. At the end (all sent, or the transfer broke off: bytesToSend tells what was
// left) the service sets complete and then calls completionProc once, which is its last access to
// the request. So the completion routine may free the request, and whoever else looks at complete
// must agree with it on who frees (an atomic hand-over), never free it just on seeing complete.
struct MIDISysexSendRequest
{
    MIDIEndpointRef destination;
    const uint8_t* data;
    uint32_t bytesToSend;
    std::atomic<bool> complete;
    MIDICompletionProc completionProc;
    void* completionRefCon;
};

// Starts the transfer and returns at once; the bytes leave from the first of our clients still
// open (kMIDIErrInvalidClient when there is none) at the pace of a MIDI cable, through a route of
// the request's own, so opening and closing ports meanwhile does not touch it. 0 when accepted.
// A transfer that a piece of it is refused for (as by MIDISend) breaks off with bytesToSend left.
OSStatus MIDISendSysex(MIDISysexSendRequest* request);
