#pragma once
// One sequencer client of this process with its ports, its receive thread and its SysEx thread,
// and the process-wide table that maps CoreMidi.h references to them.
// Topics: AlsaClient.cpp (life, ports, table), AlsaSend.cpp (output, queue, SysEx),
// AlsaReceive.cpp (receive thread), AlsaNotify.cpp (announcements).

#include "platform/AlsaEndpoints.h"
#include "platform/AlsaHandles.h"
#include "platform/AlsaReceiverRoom.h"
#include "platform/CoreMidi.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace Alsa {

// The latest scheduled packet of one sender, which its later packets with later stamps must not
// overtake.
struct Pacing
{
    MIDITimeStamp lastStamp = 0;
    uint64_t lastQueueNanos = 0;
};

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
    // SysEx may go on in the next packet list), the pacing of its packets, and the destinations
    // whose routes it holds (Client::Route). A disposed port (open cleared) sends nothing more.
    std::string name;
    bool open = true;
    bool lent = false;                             // alsaPort serves as a route
    std::map<MIDIEndpointRef, MidiCoder> coders;   // by destination
    Pacing pacing;
    std::set<MIDIEndpointRef> routes;
};

// A sequencer port of ours for input or output, or a negative error code.
int NewSequencerPort(snd_seq_t* seq, const std::string& name, bool isInput);

class Client
{
public:
    // ---- The process's table (AlsaClient.cpp) ----
    static OSStatus Create(const std::string& name, MIDINotifyProc notifyProc, void* notifyRefCon,
                           MIDIClientRef* outClient);
    static OSStatus Dispose(MIDIClientRef ref);
    static std::shared_ptr<Client> Find(MIDIClientRef ref);
    static std::shared_ptr<Port> FindPort(MIDIPortRef ref, std::shared_ptr<Client>* owner);
    // The client opened first (SysEx requests leave from it), or null.
    static std::shared_ptr<Client> First();
    // Runs query with a sequencer connection for listing ports (one of ours, or a connection kept
    // for that purpose) and the sequencer numbers of our own clients; false without sequencer.
    static bool Query(const std::function<void(snd_seq_t*, const std::set<int>&)>& query);
    // Whether, for the listening client, the sequencer client is one of ours; a closed one is
    // forgotten for that listener once it has seen its exit.
    static bool IsOwnAlsaClient(int alsaClient, bool exitSeen, MIDIClientRef listener);
    // After the listener lost announcements: whether the exit of a closed client of ours was among
    // them is not known, so none of their numbers is taken for ours any more by that listener
    // (another program may have it).
    static void ForgetClosingClients(MIDIClientRef listener);

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
    OSStatus QueueSysex(MIDISysexSendRequest* request, const Endpoint& destination);

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
    // The events of one packet list (or one piece of a SysEx request), encoded before the first
    // is written, so that they go whole or are dropped whole: the output buffer of the connection
    // is never left holding refused events that the next send, to any port, would push out first.
    struct Outgoing
    {
        std::vector<snd_seq_event_t> events;    // SysEx bytes: ext.ptr holds an offset into bytes
        std::vector<uint8_t> bytes;
        size_t cells = 0;                       // kernel cells the events take at the receiver
        void Clear();
    };
    // What marks the events of one send (or of all pieces of one SysEx request) in the queue, so
    // that a refusal takes out these and no others: an identity that no other send with events
    // still waiting has (its high byte rides in the destination port, which the kernel ignores for
    // events to subscribers, its low byte in the tag), and the queue times of its events there.
    struct Ticket
    {
        bool identified = false;
        uint16_t identity = 0;
        uint64_t firstQueued = UINT64_MAX;     // none yet
        uint64_t lastQueued = 0;
    };
    // A sequencer port that the events for one destination leave from, subscribed to that
    // destination alone, and shared by every output port that sends there (SysEx requests have
    // routes of their own). The first route an output port makes is its own sequencer port.
    // Events go to the subscribers of the route, not to an address: when the destination's program
    // ends, the kernel ends the subscription with it, so events still waiting in our queue reach
    // nobody, never a program that takes over the address (the kernel does not take them out of
    // the queue itself). Nor does the kernel take out the events of a port that is deleted: they
    // would go to the next port given its number. So a route that nobody holds any more is deleted
    // only once its last queued event has left: a marker queued after it comes back to our receive
    // thread then. Until then its number cannot be handed to a new port.
    struct Route
    {
        int alsaPort = -1;
        int holders = 0;               // output ports (or SysEx requests) that send through it
        bool queued = false;           // events went through the queue
        uint64_t due = 0;              // queue time of the latest of them
        unsigned retirement = 0;       // since nobody holds it; its marker names it
        bool markerQueued = false;
        int receiver = -1;             // the client it subscribed to, told when that ends
    };
    using RouteKey = std::pair<MIDIEndpointRef, bool>;   // destination, for SysEx requests
    // Turns the bytes into events from route (subscribed to the destination) through coder, each
    // delivered at stamp, and appends them to out; the caller holds the output mutex. A stamp
    // beyond what the queue's clock can hold is refused.
    OSStatus StageBytes(Pacing& pacing, snd_midi_event_t* coder, int route, MIDITimeStamp stamp, const uint8_t* data,
                        size_t length, SendClock& clock, Outgoing& out);
    // Writes the staged events, each on its own (the connection does not block); a refused event
    // ends the send and takes the events of ticket that wait in the queue out again, so nothing
    // of a failed send arrives later. A program whose input cannot hold the larger of
    // receiverCells and the events' own cells besides what our queues still hold for it gets none
    // of them. The caller holds the output mutex.
    OSStatus WriteOut(Outgoing& out, Ticket& ticket, Route& route, Address destination, size_t receiverCells);
    // Whether route is subscribed to the destination.
    bool Subscribed(int route, Address destination);
    // Whether receiver, when it is a program, has room in its input for cells more besides what
    // our queues still hold for it and the notices of the ends of our subscriptions to it; program
    // tells whether it is one. When it has, claim holds the room for what the caller then queues.
    bool HasRoom(std::optional<ReceiverRoom::Claim>& claim, int receiver, size_t cells, bool* program = nullptr);
    // Takes the queued events of ticket out of the queue, and out of the receivers' room.
    void Withdraw(Ticket& ticket);
    // Gives ticket an identity that no send with events still waiting has; false when all have.
    bool Identify(Ticket& ticket, uint64_t queueNow);
    // The identity is free again once the ticket's last queued event is due.
    void ReleaseIdentity(const Ticket& ticket);
    // 0 when the destination is still the port its reference was made for and its route is
    // subscribed to it; route names that route. holding says whether the caller holds the route:
    // it is taken when missing and let go when the destination has gone. A route that is made
    // takes the sequencer port of lender (the sending output port, null for SysEx requests) when
    // it does not serve as one yet.
    OSStatus PrepareDestination(const RouteKey& key, const Endpoint& destination, Port* lender, bool& holding,
                                int& route);
    // Lets go of the route for the destination; one that nobody holds any more ends.
    void ReleaseRoute(const RouteKey& key);
    // Queues the end markers of the routes that nobody holds and that lack one; one that our full
    // pool refuses is retried by the receive thread.
    void QueueRouteEnds();
    // On the receive thread, with the output mutex not held: queues the markers that may have been
    // lost, after our input overflowed those of every route that nobody holds, else those that our
    // pool refused.
    void RequeueRouteEnds(bool inputLost);
    // The marker of a route that nobody held came back: the route goes unless it is held again.
    bool IsRouteEnd(const snd_seq_event_t& event) const;
    void EndRoute(const snd_seq_event_t& event);
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

    std::mutex FOutputMutex;                        // the queue, the routes, the ports' output sides
    int FQueue = -1;
    std::map<RouteKey, Route> FRoutes;
    unsigned FRetirements = 0;                      // so that no two markers name the same one
    std::map<uint16_t, uint64_t> FIdentities;       // of sends that may have events waiting: last due
    uint16_t FNextIdentity = 0;
    Outgoing FOutgoing;                             // of MIDISend, kept for its room
    const std::shared_ptr<ReceiverRoom> FRoom;      // what all our queues hold for each receiver

    // AlsaReceive.cpp: our input overflowed and the kernel dropped what waited in it.
    void OnInputOverflow();

    EventFd FWake;
    EventFd FMarkerRefused;                         // a retired route lacks its end marker
    std::thread FReceiver;
    MidiCoder FDecoder;                             // used by the receive thread only

    struct SysexJob
    {
        MIDISysexSendRequest* request;
        Endpoint destination;
    };
    // Sends one request piece by piece at the pace of a MIDI cable; lock holds FSysexMutex.
    void SendSysex(const SysexJob& job, std::unique_lock<std::mutex>& lock);
    mutable std::mutex FSysexMutex;
    std::condition_variable FSysexWake;
    std::deque<SysexJob> FSysexJobs;
    bool FStopping = false;
    std::thread FSysexThread;
};

} // namespace Alsa
