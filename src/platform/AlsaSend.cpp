#include "platform/AlsaClient.h"
#include "platform/AlsaPeerPool.h"
#include "platform/HostClock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <optional>
#include <system_error>
#include <thread>

#include <poll.h>

namespace Alsa {

namespace {

// Largest SysEx piece per sequencer event: far below the sizes the kernel loses, and the size in
// which the kernel's own MIDI drivers hand SysEx on.
const size_t kEventBytes = 256;
// One byte on a MIDI cable (3125 bytes per second): the pace of SysEx requests.
const uint64_t kNanosPerByte = 320000;
const uint64_t kNanosPerSecond = 1000000000u;
const char* const kSysexRouteName = "SysEx requests";
// The latest time the queue's clock can hold (its seconds are 32 bits).
const uint64_t kLastQueueNanos = uint64_t(UINT32_MAX) * kNanosPerSecond + (kNanosPerSecond - 1);

snd_seq_real_time_t ToRealTime(uint64_t nanos)
{
    snd_seq_real_time_t time {};
    time.tv_sec = static_cast<unsigned>(nanos / kNanosPerSecond);
    time.tv_nsec = static_cast<unsigned>(nanos % kNanosPerSecond);
    return time;
}

uint64_t ToNanos(const snd_seq_real_time_t& time)
{
    return static_cast<uint64_t>(time.tv_sec) * kNanosPerSecond + time.tv_nsec;
}

// The queue's time, and how many events still wait in it.
bool ReadQueue(snd_seq_t* seq, int queue, uint64_t& nanos, size_t& waiting)
{
    snd_seq_queue_status_t* status = nullptr;
    snd_seq_queue_status_alloca(&status);
    if (snd_seq_get_queue_status(seq, queue, status) < 0)
        return false;
    nanos = ToNanos(*snd_seq_queue_status_get_real_time(status));
    waiting = static_cast<size_t>(std::max(snd_seq_queue_status_get_events(status), 0));
    return true;
}

// The kernel keeps an event in one cell and its SysEx bytes in further cells of the size of an
// event, at the receiver as in our queue.
size_t EventCells(const snd_seq_event_t& event)
{
    if (!snd_seq_ev_is_variable(&event))
        return 1;
    return 1 + (event.data.ext.len + sizeof(snd_seq_event_t) - 1) / sizeof(snd_seq_event_t);
}

// Delivered by the queue at that queue time.
void ScheduleAt(snd_seq_event_t& event, int queue, uint64_t nanos)
{
    event.queue = static_cast<unsigned char>(queue);
    const unsigned timeFlags = SND_SEQ_TIME_STAMP_MASK | SND_SEQ_TIME_MODE_MASK;
    event.flags = static_cast<unsigned char>((event.flags & ~timeFlags) | SND_SEQ_TIME_STAMP_REAL | SND_SEQ_TIME_MODE_ABS);
    event.time.time = ToRealTime(nanos);
}

} // namespace

bool Client::EnsureQueue()
{
    std::lock_guard<std::mutex> lock(FOutputMutex);
    if (FQueue >= 0)
        return true;
    const int queue = snd_seq_alloc_queue(FSeq.get());
    if (queue < 0)
        return false;
    if (snd_seq_start_queue(FSeq.get(), queue, nullptr) < 0 || snd_seq_drain_output(FSeq.get()) < 0)
    {
        // The start event must not stay in the output buffer for a later send to push out.
        snd_seq_drop_output_buffer(FSeq.get());
        snd_seq_free_queue(FSeq.get(), queue);
        return false;
    }
    FQueue = queue;
    return true;
}

OSStatus Client::PrepareDestination(const RouteKey& key, const Endpoint& destination, Port* lender, bool& holding,
                                    int& route)
{
    const auto letGo = [&] {
        // An output port keeps the route made of its own sequencer port until it is disposed of,
        // so that the number stays its own while it is open.
        auto held = FRoutes.find(key);
        const bool own = lender != nullptr && held != FRoutes.end() && held->second.alsaPort == lender->alsaPort;
        if (holding && !own)
        {
            ReleaseRoute(key);
            holding = false;
        }
        return kMIDIErrUnknownEndpoint;
    };
    // A port that took over the address of the one we were asked for counts as that one gone:
    // nothing reaches a program or device nobody chose.
    snd_seq_port_info_t* info = nullptr;
    snd_seq_port_info_alloca(&info);
    if (!IsStillThere(FSeq.get(), destination, info) || !IsEndpointPort(info, false))
        return letGo();
    auto found = FRoutes.find(key);
    if (found == FRoutes.end())
    {
        // An output port's own sequencer port serves as the first route it needs, so the first
        // send through a port makes no port.
        Route made;
        if (lender != nullptr && !lender->lent)
        {
            made.alsaPort = lender->alsaPort;
            lender->lent = true;
        }
        else
            made.alsaPort = NewSequencerPort(FSeq.get(), lender != nullptr ? lender->name : kSysexRouteName, false);
        if (made.alsaPort < 0)
            return kMIDIErrMessageSend;
        found = FRoutes.emplace(key, made).first;
    }
    if (!holding)
        ++found->second.holders;
    holding = true;
    route = found->second.alsaPort;
    // Drivers open their device only while a port is subscribed to them and ignore events before;
    // a subscription that exists already is fine. It ends with the route or their port, so a
    // device that comes back is subscribed anew by the next send.
    const Address address = destination.address;
    if (Subscribed(route, address))
    {
        found->second.receiver = address.client;
        return 0;
    }
    // The kernel tells a program of a subscription to its port in its input, and again when the
    // subscription ends: both need room there, or it overflows and loses all that waited.
    {
        std::optional<ReceiverRoom::Claim> claim;
        if (!HasRoom(claim, address.client, 2))
            return kMIDIErrMessageSend;
    }
    const int result = snd_seq_connect_to(FSeq.get(), route, address.client, address.port);
    if (result < 0 && result != -EBUSY)
        return kMIDIErrMessageSend;
    found->second.receiver = address.client;
    // A new subscription goes to whatever port sits at the address now: had another program taken
    // the address since the look above, it must not stay subscribed.
    if (result >= 0 && !IsStillThere(FSeq.get(), destination, info))
    {
        snd_seq_disconnect_to(FSeq.get(), route, address.client, address.port);
        return letGo();
    }
    return 0;
}

void Client::ReleaseRoute(const RouteKey& key)
{
    auto found = FRoutes.find(key);
    if (found == FRoutes.end() || --found->second.holders > 0)
        return;
    Route& route = found->second;
    route.retirement = ++FRetirements;
    route.markerQueued = false;
    if (!route.queued)
    {
        snd_seq_delete_simple_port(FSeq.get(), route.alsaPort);
        FRoutes.erase(found);
        return;
    }
    QueueRouteEnds();
}

namespace {

// The end marker of a route: queued from the route to the route itself.
const snd_seq_event_type_t kRouteEndEvent = SND_SEQ_EVENT_USR0;

} // namespace

void Client::QueueRouteEnds()
{
    for (auto& entry : FRoutes)
    {
        Route& route = entry.second;
        if (route.holders > 0 || route.markerQueued)
            continue;
        // The queue hands out events of equal time in the order they came, so the marker comes
        // after every event that left through the route.
        snd_seq_event_t marker;
        snd_seq_ev_clear(&marker);
        marker.type = kRouteEndEvent;
        snd_seq_ev_set_source(&marker, route.alsaPort);
        snd_seq_ev_set_dest(&marker, FAlsaId, route.alsaPort);
        ScheduleAt(marker, FQueue, route.due);
        marker.data.raw32.d[0] = route.retirement;
        route.markerQueued = snd_seq_event_output_direct(FSeq.get(), &marker) >= 0;
        if (route.markerQueued)
            FRoom->AddMarker(FQueue, route.due);
        else
            FMarkerRefused.Signal();   // our pool is full: the receive thread offers it again
    }
}

void Client::RequeueRouteEnds(bool inputLost)
{
    std::lock_guard<std::mutex> lock(FOutputMutex);
    // Markers still on their way in the queue come twice then. The second is ignored: it names a
    // retirement that its route no longer has, and a later route with its port number has a
    // retirement of its own (numbers are never given twice), or none while it is held.
    if (inputLost)
        for (auto& entry : FRoutes)
            entry.second.markerQueued = false;
    QueueRouteEnds();
}

bool Client::IsRouteEnd(const snd_seq_event_t& event) const
{
    return event.type == kRouteEndEvent && event.source.client == FAlsaId;
}

void Client::EndRoute(const snd_seq_event_t& event)
{
    std::lock_guard<std::mutex> lock(FOutputMutex);
    for (auto route = FRoutes.begin(); route != FRoutes.end(); ++route)
        if (route->second.alsaPort == event.source.port)
        {
            if (route->second.holders == 0 && route->second.retirement == event.data.raw32.d[0])
            {
                snd_seq_delete_simple_port(FSeq.get(), route->second.alsaPort);
                FRoutes.erase(route);
            }
            break;
        }
    QueueRouteEnds();
}

void Client::Outgoing::Clear()
{
    events.clear();
    bytes.clear();
    cells = 0;
}

bool Client::Identify(Ticket& ticket, uint64_t queueNow)
{
    // Sends whose last event is due have no event waiting that a refusal could take out: events
    // of a later send with the same identity wait from a later time on, and a withdrawal takes only
    // those from its first time on.
    if (FIdentities.size() > 4096)
        for (auto entry = FIdentities.begin(); entry != FIdentities.end();)
            entry = entry->second < queueNow ? FIdentities.erase(entry) : std::next(entry);
    for (size_t tries = 0; tries <= UINT16_MAX; ++tries)
    {
        const uint16_t identity = FNextIdentity++;
        auto used = FIdentities.find(identity);
        if (used == FIdentities.end() || used->second < queueNow)
        {
            FIdentities[identity] = UINT64_MAX;   // taken until the ticket is done
            ticket.identity = identity;
            ticket.identified = true;
            return true;
        }
    }
    return false;
}

void Client::ReleaseIdentity(const Ticket& ticket)
{
    if (!ticket.identified)
        return;
    if (ticket.firstQueued == UINT64_MAX)
        FIdentities.erase(ticket.identity);
    else
        FIdentities[ticket.identity] = ticket.lastQueued;
}

OSStatus Client::StageBytes(Pacing& pacing, snd_midi_event_t* coder, int route, MIDITimeStamp stamp,
                            const uint8_t* data, size_t length, SendClock& clock, Outgoing& out)
{
    if (!clock.known)
    {
        size_t waiting = 0;
        if (!ReadQueue(FSeq.get(), FQueue, clock.queueNanos, waiting))
            return kMIDIErrMessageSend;
        clock.pending = waiting > 0;
        clock.hostNow = AudioGetCurrentHostTime();
        clock.known = true;
    }

    // Due bytes go straight out unless scheduled ones still wait, which they must not overtake;
    // the rest waits in the queue until the queue's clock has moved on as far as the host clock
    // has to reach the stamp. The queue's clock counts only timer periods that have passed, so it
    // does not run ahead of real time and nothing arrives early.
    const bool direct = stamp <= clock.hostNow && !clock.pending;
    const uint64_t ahead = stamp > clock.hostNow ? stamp - clock.hostNow : 0;
    if (ahead > kLastQueueNanos - clock.queueNanos)
        return kMIDIErrMessageSend;
    uint64_t at = clock.queueNanos + ahead;
    if (stamp >= pacing.lastStamp)
    {
        // Reading the queue's clock at another moment may give a slightly earlier mapping;
        // a later stamp still never goes before the packet scheduled last.
        at = std::max(at, pacing.lastQueueNanos);
        pacing.lastStamp = stamp;
        pacing.lastQueueNanos = at;
    }
    if (!direct)
        clock.pending = true;

    size_t offset = 0;
    while (offset < length)
    {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        const uint8_t* const taken = data + offset;
        const long used = snd_midi_event_encode(coder, taken, static_cast<long>(length - offset), &event);
        if (used <= 0)
            return kMIDIErrMessageSend;
        offset += static_cast<size_t>(used);
        // The coder ends every SysEx it holds with an event at its 0xF7; an 0xF7 it takes silently
        // ended none, as no start came this way, and the piece it closed was dropped unseen.
        const long silent = event.type == SND_SEQ_EVENT_NONE ? used : used - 1;
        if (std::find(taken, taken + silent, 0xF7) != taken + silent)
            return kMIDIErrMessageSend;
        if (event.type == SND_SEQ_EVENT_NONE)
            continue;   // the message goes on in the next bytes or packet
        snd_seq_ev_set_source(&event, route);
        snd_seq_ev_set_subs(&event);
        if (direct)
            snd_seq_ev_set_direct(&event);
        else
            ScheduleAt(event, FQueue, at);
        out.cells += EventCells(event);
        if (snd_seq_ev_is_variable(&event))
        {
            const size_t extLength = event.data.ext.len;
            const auto* ext = static_cast<const uint8_t*>(event.data.ext.ptr);
            const size_t stored = out.bytes.size();
            out.bytes.insert(out.bytes.end(), ext, ext + extLength);
            event.data.ext.ptr = reinterpret_cast<void*>(stored);
        }
        out.events.push_back(event);
    }
    return 0;
}

namespace {

// How long a send waits in all for room in our own output pool, which scheduled events fill until
// their time comes. A destination that does not take events is never waited for.
const auto kRoomWait = std::chrono::milliseconds(500);

// The free cells of client's input when it is a program. A driver has no input pool: it takes
// events as they come; and a client that has gone is left to the write.
bool ProgramInput(snd_seq_t* seq, int client, size_t& free)
{
    pollfd fd {};
    if (snd_seq_type(seq) != SND_SEQ_TYPE_HW || snd_seq_poll_descriptors(seq, &fd, 1, POLLIN) != 1)
        return false;
    int pool = 0;
    int cells = 0;
    if (!PeerInputPool(fd.fd, client, pool, cells) || pool <= 0)
        return false;
    free = static_cast<size_t>(std::max(cells, 0));
    return true;
}

} // namespace

bool Client::Subscribed(int route, Address destination)
{
    snd_seq_port_subscribe_t* subscription = nullptr;
    snd_seq_port_subscribe_alloca(&subscription);
    const snd_seq_addr_t sender { static_cast<unsigned char>(FAlsaId), static_cast<unsigned char>(route) };
    const snd_seq_addr_t dest { static_cast<unsigned char>(destination.client), static_cast<unsigned char>(destination.port) };
    snd_seq_port_subscribe_set_sender(subscription, &sender);
    snd_seq_port_subscribe_set_dest(subscription, &dest);
    return snd_seq_get_port_subscription(FSeq.get(), subscription) == 0;
}

bool Client::HasRoom(std::optional<ReceiverRoom::Claim>& claim, int receiver, size_t cells, bool* program)
{
    claim.emplace(*FRoom, receiver);
    const size_t pending = claim->Pending([this](int queue, size_t& waiting) {
        uint64_t nanos = 0;
        return ReadQueue(FSeq.get(), queue, nanos, waiting);
    });
    // Each of our routes subscribed to the program will be told of once more, when it ends.
    size_t notices = 0;
    for (const auto& entry : FRoutes)
        notices += entry.second.receiver == receiver ? 1 : 0;
    size_t free = 0;
    const bool isProgram = ProgramInput(FSeq.get(), receiver, free);
    if (program != nullptr)
        *program = isProgram;
    if (!isProgram || pending + notices + cells <= free)
        return true;
    claim.reset();
    return false;
}

OSStatus Client::WriteOut(Outgoing& out, Ticket& ticket, Route& route, Address destination, size_t receiverCells)
{
    if (out.events.empty())
        return 0;
    // A program's input is never asked for more than it has free: an event it cannot take marks
    // it overflowed, and its next read loses all that waited there, accepted sends included. What
    // our queues still hold for it is counted before its free cells are read, so an event that
    // reaches it meanwhile counts twice rather than not at all. Even a message larger than its
    // whole input is refused: pieces handed to a program that reads might be taken in time, but
    // one that does not would lose what it had not read yet with them. Room stays for the notices
    // of the ends of our subscriptions to it. Every event that goes into the queue is logged, those
    // for drivers too, since the log tells what still waits by its order.
    std::optional<ReceiverRoom::Claim> claim;
    bool program = false;
    if (!HasRoom(claim, destination.client, std::max(receiverCells, out.cells), &program))
    {
        Withdraw(ticket);
        return kMIDIErrMessageSend;
    }
    const auto giveUp = std::chrono::steady_clock::now() + kRoomWait;
    for (snd_seq_event_t& event : out.events)
    {
        if (snd_seq_ev_is_variable(&event))
            event.data.ext.ptr = out.bytes.data() + reinterpret_cast<size_t>(event.data.ext.ptr);
        event.dest.port = static_cast<unsigned char>(ticket.identity >> 8);
        snd_seq_ev_set_tag(&event, static_cast<unsigned char>(ticket.identity & 0xFF));
        // Written on its own, without the output buffer: one event is taken or refused whole, and
        // nothing refused stays behind for the next send.
        int result = snd_seq_event_output_direct(FSeq.get(), &event);
        // Scheduled events wait in our own pool; when it is full, its oldest leave as their time
        // comes. A direct event refused (-EAGAIN) means a receiver that does not read.
        while (result == -EAGAIN && !snd_seq_ev_is_direct(&event) && std::chrono::steady_clock::now() < giveUp)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            result = snd_seq_event_output_direct(FSeq.get(), &event);
        }
        if (result < 0)
        {
            claim.reset();
            Withdraw(ticket);
            return kMIDIErrMessageSend;
        }
        if (!snd_seq_ev_is_direct(&event))
        {
            const uint64_t at = ToNanos(event.time.time);
            ticket.firstQueued = std::min(ticket.firstQueued, at);
            ticket.lastQueued = std::max(ticket.lastQueued, at);
            route.due = std::max(route.due, at);
            route.queued = true;
            claim->Add(FQueue, ticket.identity, at, EventCells(event), program);
        }
    }
    return 0;
}

void Client::Withdraw(Ticket& ticket)
{
    if (ticket.firstQueued == UINT64_MAX || FQueue < 0)
        return;
    // Events that went straight out have arrived; what waits in the queue is taken out again.
    // Another send with the same identity has no event at or after this one's first queue time.
    snd_seq_remove_events_t* remove = nullptr;
    snd_seq_remove_events_alloca(&remove);
    snd_seq_remove_events_set_condition(remove, SND_SEQ_REMOVE_OUTPUT | SND_SEQ_REMOVE_DEST | SND_SEQ_REMOVE_TAG_MATCH
                                                    | SND_SEQ_REMOVE_TIME_AFTER);
    snd_seq_remove_events_set_queue(remove, FQueue);
    snd_seq_addr_t marked { SND_SEQ_ADDRESS_SUBSCRIBERS, static_cast<unsigned char>(ticket.identity >> 8) };
    snd_seq_remove_events_set_dest(remove, &marked);
    snd_seq_remove_events_set_tag(remove, static_cast<unsigned char>(ticket.identity & 0xFF));
    snd_seq_timestamp_t from {};
    from.time = ToRealTime(ticket.firstQueued);
    snd_seq_remove_events_set_time(remove, &from);
    snd_seq_remove_events(FSeq.get(), remove);
    FRoom->Withdraw(FQueue, ticket.identity, ticket.firstQueued);
    // Nothing of it waits any more.
    ticket.firstQueued = UINT64_MAX;
    ticket.lastQueued = 0;
}

OSStatus Client::Send(Port& port, MIDIEndpointRef ref, const Endpoint& destination, const MIDIPacketList& list)
{
    if (port.isInput)
        return kMIDIErrInvalidPort;
    // A disposal waits for a send in progress, and a send after it finds the port closed: no route
    // is taken for a port that has gone.
    std::lock_guard<std::mutex> lock(FOutputMutex);
    if (!port.open)
        return kMIDIErrInvalidPort;
    bool holding = port.routes.count(ref) != 0;
    int route = -1;
    const RouteKey key { ref, false };
    const OSStatus prepared = PrepareDestination(key, destination, &port, holding, route);
    if (holding)
        port.routes.insert(ref);
    else
        port.routes.erase(ref);
    if (prepared != 0)
    {
        port.coders.erase(ref);   // a message begun for it ends here
        return prepared;
    }
    MidiCoder& coder = port.coders[ref];
    if (!coder)
        coder = NewMidiCoder(kEventBytes);
    const Pacing pacing = port.pacing;
    Outgoing& out = FOutgoing;
    out.Clear();
    Ticket ticket;
    SendClock clock;
    OSStatus status = 0;
    try
    {
        const MIDIPacket* packet = &list.packet[0];
        for (uint32_t i = 0; i < list.numPackets && status == 0; ++i)
        {
            status = StageBytes(port.pacing, coder.get(), route, packet->timeStamp, packet->data, packet->length, clock,
                                out);
            packet = MIDIPacketNext(packet);
        }
        if (status == 0 && !out.events.empty() && !Identify(ticket, clock.queueNanos))
            status = kMIDIErrMessageSend;
        if (status == 0)
            status = WriteOut(out, ticket, FRoutes.at(key), destination.address, 0);
    }
    catch (const std::bad_alloc&)
    {
        status = kMIDIErrMessageSend;   // nothing was written yet
    }
    ReleaseIdentity(ticket);
    if (status != 0)
    {
        // The send is dropped whole: the rest of a message it began must not become the start of
        // the next one, and the packets it scheduled are not in the queue for later ones to wait for.
        snd_midi_event_reset_encode(coder.get());
        port.pacing = pacing;
    }
    return status;
}

OSStatus Client::QueueSysex(MIDISysexSendRequest* request, const Endpoint& destination)
{
    if (!EnsureQueue())
        return kMIDIErrServerStart;
    {
        std::lock_guard<std::mutex> lock(FSysexMutex);
        if (FStopping)
            return kMIDIErrInvalidClient;
        if (!FSysexThread.joinable())
            FSysexThread = std::thread(&Client::SysexLoop, this);
        FSysexJobs.push_back(SysexJob { request, destination });
    }
    FSysexWake.notify_one();
    return 0;
}

namespace {

// The cells a receiver needs for the SysEx bytes still to come, in events of kEventBytes.
size_t SysexCells(size_t bytes)
{
    const auto cells = [](size_t length) {
        return 1 + (length + sizeof(snd_seq_event_t) - 1) / sizeof(snd_seq_event_t);
    };
    const size_t rest = bytes % kEventBytes;
    return bytes / kEventBytes * cells(kEventBytes) + (rest > 0 ? cells(rest) : 0);
}

} // namespace

void Client::SysexLoop()
{
    std::unique_lock<std::mutex> lock(FSysexMutex);
    for (;;)
    {
        FSysexWake.wait(lock, [this] { return FStopping || !FSysexJobs.empty(); });
        if (FSysexJobs.empty())
            return;
        const SysexJob job = FSysexJobs.front();
        FSysexJobs.pop_front();
        // When stopping, requests not yet sent are completed at once with their bytes left over.
        if (!FStopping)
            SendSysex(job, lock);
        lock.unlock();
        MIDISysexSendRequest* const request = job.request;
        request->complete.store(true, std::memory_order_release);
        if (request->completionProc != nullptr)
            request->completionProc(request);
        lock.lock();
    }
}

void Client::SendSysex(const SysexJob& job, std::unique_lock<std::mutex>& lock)
{
    MIDISysexSendRequest* const request = job.request;
    const RouteKey key { request->destination, true };
    // A coder and a pacing of its own: messages sent meanwhile to the same destination cannot cut
    // in, and its pieces follow each other whatever output ports do. All pieces carry one ticket,
    // so a piece that fails takes those of its pieces that still wait in the queue with it. The
    // requests have routes of their own, which no output port holds: closing ports cannot break
    // them off, and a route ends with the last request to its destination.
    MidiCoder coder;
    Pacing pacing;
    Ticket ticket;
    bool holding = false;
    Outgoing out;
    while (request->bytesToSend > 0 && !FStopping)
    {
        const size_t piece = std::min<size_t>(kEventBytes, request->bytesToSend);
        const size_t left = request->bytesToSend;
        lock.unlock();
        OSStatus status = 0;
        try
        {
            if (!coder)
                coder = NewMidiCoder(kEventBytes);
            std::lock_guard<std::mutex> output(FOutputMutex);
            out.Clear();
            SendClock clock;
            int route = -1;
            status = PrepareDestination(key, job.destination, nullptr, holding, route);
            if (status == 0)
                status = StageBytes(pacing, coder.get(), route, AudioGetCurrentHostTime(), request->data, piece, clock,
                                    out);
            if (status == 0 && !ticket.identified && !Identify(ticket, clock.queueNanos))
                status = kMIDIErrMessageSend;
            // The receiver must have room for what is left of the request, so that a program
            // that has stopped reading gets none of it rather than its first pieces.
            if (status == 0)
                status = WriteOut(out, ticket, FRoutes.at(key), job.destination.address, SysexCells(left));
            else
                Withdraw(ticket);
        }
        catch (const std::bad_alloc&)
        {
            status = kMIDIErrMessageSend;
        }
        lock.lock();
        if (status != 0)
            break;
        request->data += piece;
        request->bytesToSend -= static_cast<uint32_t>(piece);
        if (request->bytesToSend > 0)
            FSysexWake.wait_for(lock, std::chrono::nanoseconds(piece * kNanosPerByte), [this] { return FStopping; });
    }
    lock.unlock();
    {
        std::lock_guard<std::mutex> output(FOutputMutex);
        ReleaseIdentity(ticket);
        if (holding)
            ReleaseRoute(key);
    }
    lock.lock();
}

} // namespace Alsa

using Alsa::Client;
using Alsa::ObjectKind;

namespace {

// 0 when ref is a destination reference.
OSStatus CheckDestinationRef(MIDIEndpointRef ref)
{
    const ObjectKind kind = Alsa::KindOf(ref);
    if (kind == ObjectKind::Destination)
        return 0;
    return kind == ObjectKind::Source ? kMIDIErrWrongEndpointType : kMIDIErrUnknownEndpoint;
}

} // namespace

OSStatus MIDISend(MIDIPortRef port, MIDIEndpointRef destination, const MIDIPacketList* list)
{
    if (list == nullptr)
        return kMIDIErrParameter;
    std::shared_ptr<Client> client;
    std::shared_ptr<Alsa::Port> found = Client::FindPort(port, &client);
    if (!found)
        return kMIDIErrInvalidPort;
    const OSStatus checked = CheckDestinationRef(destination);
    if (checked != 0)
        return checked;
    try
    {
        Alsa::Endpoint target;
        if (!Alsa::EndpointOfRef(destination, target))
            return kMIDIErrUnknownEndpoint;
        return client->Send(*found, destination, target, *list);
    }
    catch (const std::bad_alloc&)
    {
        return kMIDIErrMessageSend;
    }
}

OSStatus MIDISendSysex(MIDISysexSendRequest* request)
{
    if (request == nullptr || (request->data == nullptr && request->bytesToSend > 0))
        return kMIDIErrParameter;
    const OSStatus checked = CheckDestinationRef(request->destination);
    if (checked != 0)
        return checked;
    std::shared_ptr<Client> client = Client::First();
    if (!client)
        return kMIDIErrInvalidClient;
    try
    {
        Alsa::Endpoint target;
        if (!Alsa::EndpointOfRef(request->destination, target))
            return kMIDIErrUnknownEndpoint;
        return client->QueueSysex(request, target);
    }
    catch (const std::system_error&)
    {
        return kMIDIErrServerStart;   // no thread for the transfer
    }
    catch (const std::bad_alloc&)
    {
        return kMIDIErrMessageSend;
    }
}
