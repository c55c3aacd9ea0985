#pragma once
// One sequencer client of this process with its ports, its receive thread and its SysEx thread,
// and the process-wide table that maps CoreMidi.h references to them.
// Topics: AlsaClient.cpp (life, ports, table), AlsaSend.cpp (output, queue, SysEx),
// AlsaReceive.cpp (receive thread), AlsaNotify.cpp (announcements).

#include "platform/AlsaEndpoints.h"
#include "platform/AlsaHandles.h"
#include "platform/CoreMidi.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

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
    std::map<MIDIEndpointRef, MidiCoder> coders;   // by destination
    MIDITimeStamp lastStamp = 0;
    uint64_t lastQueueNanos = 0;
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
    // Turns the bytes into events from port to destination through coder, each delivered at
    // stamp; the caller holds the output mutex and drains the output afterwards.
    OSStatus SendBytes(Port& port, snd_midi_event_t* coder, Address destination, MIDITimeStamp stamp,
                       const uint8_t* data, size_t length, SendClock& clock);
    // 0 when the destination is still there and port is subscribed to it.
    OSStatus PrepareDestination(Port& port, const Endpoint& destination);
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

    std::mutex FOutputMutex;                        // the output buffer and the queue
    int FQueue = -1;

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
