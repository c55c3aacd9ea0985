#pragma once
// One sequencer client of this process with its ports, its receive thread and its SysEx thread,
// and the process-wide table that maps CoreMidi.h references to them.
// Topics: AlsaClient.cpp (life, ports, table), AlsaSend.cpp (output, queue, SysEx),
// AlsaReceive.cpp (receive thread), AlsaNotify.cpp (announcements).

#include "platform/AlsaEndpoints.h"
#include "platform/AlsaHandles.h"
#include "platform/CoreMidi.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace Alsa {

struct Port
{
    MIDIPortRef ref = 0;
    int alsaPort = -1;
    bool isInput = false;

    // Input side. The receive thread holds callbackMutex while it runs the read routine, so a
    // disposal or disconnection waits for a running call; recursive, so the routine itself may
    // disconnect or dispose.
    MIDIReadProc readProc = nullptr;
    void* readProcRefCon = nullptr;
    std::recursive_mutex callbackMutex;
    bool alive = true;
    std::map<int, void*> connections;      // source address key -> connection context

    // Output side, guarded by the owner's output mutex: byte-to-event coders per destination (a
    // SysEx may go on in the next packet list) and the latest scheduled packet, which later
    // packets with later stamps must not overtake.
    std::string name;
    std::map<MIDIEndpointRef, MidiCoder> coders;   // by destination
    MIDITimeStamp lastStamp = 0;
    uint64_t lastQueueNanos = 0;
    // The sequencer port that the events for each destination leave from (the first destination
    // gets alsaPort itself), subscribed to that destination alone. Events go to the subscribers of
    // the route, not to an address: when the destination's program ends, the kernel ends the
    // subscription with it, so events still waiting in our queue reach nobody, never a program that
    // takes over the address (the kernel does not take them out of the queue itself).
    std::map<MIDIEndpointRef, int> routes;         // by destination
};

class Client
{
public:
    // ---- The process's table (AlsaClient.cpp) ----
    static OSStatus Create(const std::string& name, MIDINotifyProc notifyProc, void* notifyRefCon,
                           MIDIClientRef* outClient);
    static OSStatus Dispose(MIDIClientRef ref);
    static std::shared_ptr<Client> Find(MIDIClientRef ref);
    static std::shared_ptr<Port> FindPort(MIDIPortRef ref, std::shared_ptr<Client>* owner);
    // The first client that has an output port, with that port (for SysEx requests).
    static std::shared_ptr<Port> AnyOutputPort(std::shared_ptr<Client>* owner);
    // Runs query with a sequencer connection for listing ports (one of ours, or a connection kept
    // for that purpose) and the sequencer numbers of our own clients; false without sequencer.
    static bool Query(const std::function<void(snd_seq_t*, const std::set<int>&)>& query);
    // Whether the sequencer client is one of ours; forgets a closed one once its exit is seen.
    static bool IsOwnAlsaClient(int alsaClient, bool exitSeen);
    // After lost announcements: whether the exit of a closed client of ours was among them is not
    // known, so none of their numbers is taken for ours any more (another program may have it).
    static void ForgetClosingClients();

    Client(MIDIClientRef ref, SeqHandle seq, MIDINotifyProc notifyProc, void* notifyRefCon);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Creates a port of the client and enters it into the table.
    static OSStatus NewPort(MIDIClientRef client, bool isInput, const std::string& name,
                            MIDIReadProc readProc, void* refCon, MIDIPortRef* outPort);
    static OSStatus DisposePort(MIDIPortRef ref);
    OSStatus Connect(Port& port, const Endpoint& source, void* connRefCon);
    OSStatus Disconnect(Port& port, Address source);

    // ---- Output (AlsaSend.cpp) ----
    OSStatus Send(Port& port, MIDIEndpointRef ref, const Endpoint& destination, const MIDIPacketList& list);
    OSStatus QueueSysex(const std::shared_ptr<Port>& port, MIDISysexSendRequest* request,
                        const Endpoint& destination);

private:
    // Starts the receive thread (announcement subscription first when asked for).
    bool Start();
    // Stops and joins both threads; refused (false) on one of them.
    bool Stop();
    bool OnOwnThread() const;

    // AlsaSend.cpp
    bool EnsureQueue();
    // The queue's clock, read once per packet list that needs it.
    struct SendClock
    {
        bool known = false;
        uint64_t queueNanos = 0;     // queue time
        uint64_t hostNow = 0;        // host time at the same moment
        bool pending = false;        // scheduled events still wait in the queue
    };
    // The events of one send (or one SysEx request), encoded before the first is written, so that
    // a send either goes whole or is dropped whole: the output buffer of the connection is never
    // left holding refused events that the next send, to any port, would push out first.
    struct Outgoing
    {
        unsigned char tag = 0;                  // marks this send's events in the queue
        std::vector<snd_seq_event_t> events;    // SysEx bytes: ext.ptr holds an offset into bytes
        std::vector<uint8_t> bytes;
        size_t cells = 0;                       // kernel cells the events take at the receiver
        uint64_t firstQueued = UINT64_MAX;      // queue time of the earliest event put in the queue
        void Clear();
    };
    // Turns the bytes into events from route (subscribed to the destination) through coder, each
    // delivered at stamp, and appends them to out; the caller holds the output mutex.
    OSStatus StageBytes(Port& port, snd_midi_event_t* coder, int route, MIDITimeStamp stamp, const uint8_t* data,
                        size_t length, SendClock& clock, Outgoing& out);
    // Writes the staged events, each on its own (the connection does not block); a refused event
    // ends the send and takes the events of this send that wait in the queue out again, so
    // nothing of a failed send arrives later. A program whose input lacks room for the larger of
    // receiverCells and the send's own cells (at most three quarters of its whole input) gets none
    // of the events. The caller holds the output mutex.
    OSStatus WriteOut(Outgoing& out, Address destination, size_t receiverCells);
    // Takes the queued events of out (its tag, from its first queue time on) out of the queue.
    void Withdraw(const Outgoing& out);
    unsigned char NextTag();
    // 0 when the destination is still the port its reference was made for and a route of port is
    // subscribed to it; route names that route.
    OSStatus PrepareDestination(Port& port, MIDIEndpointRef ref, const Endpoint& destination, int& route);
    // The route of port for the destination, made when missing; -1 when no port can be made.
    int RoutePort(Port& port, MIDIEndpointRef ref);
    void SysexLoop();

    // AlsaReceive.cpp
    void ReceiveLoop();
    void Dispatch(const snd_seq_event_t& event);

    // AlsaNotify.cpp
    bool SubscribeAnnouncements();
    static bool IsAnnouncement(const snd_seq_event_t& event);
    void Announce(const snd_seq_event_t& event);
    static void Deliver(MIDIClientRef ref, MIDINotificationMessageID id);

    const MIDIClientRef FRef;
    SeqHandle FSeq;
    const int FAlsaId;
    const MIDINotifyProc FNotifyProc;
    void* const FNotifyRefCon;

    std::mutex FPortsMutex;
    std::map<int, std::shared_ptr<Port>> FPorts;    // by sequencer port number

    std::mutex FOutputMutex;                        // the output buffer, the queue, the routes
    int FQueue = -1;
    unsigned char FTag = 0;
    Outgoing FOutgoing;                             // of MIDISend, kept for its room

    // AlsaReceive.cpp: our input overflowed and the kernel dropped what waited in it.
    void OnInputOverflow();

    EventFd FWake;
    std::thread FReceiver;
    MidiCoder FDecoder;                             // used by the receive thread only

    struct SysexJob
    {
        std::weak_ptr<Port> port;
        MIDISysexSendRequest* request;
        Endpoint destination;
    };
    mutable std::mutex FSysexMutex;
    std::condition_variable FSysexWake;
    std::deque<SysexJob> FSysexJobs;
    bool FStopping = false;
    std::thread FSysexThread;
};

} // namespace Alsa
