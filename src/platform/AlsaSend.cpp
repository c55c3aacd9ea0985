#include "platform/AlsaClient.h"
#include "platform/AlsaPeerPool.h"
#include "platform/HostClock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
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

int Client::RoutePort(Port& port, MIDIEndpointRef ref)
{
    auto found = port.routes.find(ref);
    if (found != port.routes.end())
        return found->second;
    bool alsaPortTaken = false;
    for (const auto& route : port.routes)
        alsaPortTaken = alsaPortTaken || route.second == port.alsaPort;
    int route = port.alsaPort;
    if (alsaPortTaken)
    {
        // Private like the port itself: we connect it ourselves.
        route = snd_seq_create_simple_port(FSeq.get(), port.name.c_str(), SND_SEQ_PORT_CAP_READ,
                                           SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (route < 0)
            return -1;
    }
    port.routes[ref] = route;
    return route;
}

OSStatus Client::PrepareDestination(Port& port, MIDIEndpointRef ref, const Endpoint& destination, int& route)
{
    // A port that took over the address of the one we were asked for counts as that one gone:
    // nothing reaches a program or device nobody chose.
    snd_seq_port_info_t* info = nullptr;
    snd_seq_port_info_alloca(&info);
    if (!IsStillThere(FSeq.get(), destination, info) || !IsEndpointPort(info, false))
        return kMIDIErrUnknownEndpoint;
    route = RoutePort(port, ref);
    if (route < 0)
        return kMIDIErrMessageSend;
    // Drivers open their device only while a port is subscribed to them and ignore events before;
    // a subscription that exists already (-EBUSY) is fine. It ends with the route or their port,
    // so a device that comes back is subscribed anew by the next send.
    const Address address = destination.address;
    const int result = snd_seq_connect_to(FSeq.get(), route, address.client, address.port);
    if (result < 0 && result != -EBUSY)
        return kMIDIErrMessageSend;
    // A new subscription goes to whatever port sits at the address now: had another program taken
    // the address since the look above, it must not stay subscribed.
    if (result >= 0 && !IsStillThere(FSeq.get(), destination, info))
    {
        snd_seq_disconnect_to(FSeq.get(), route, address.client, address.port);
        return kMIDIErrUnknownEndpoint;
    }
    return 0;
}

void Client::Outgoing::Clear()
{
    events.clear();
    bytes.clear();
    cells = 0;
}

unsigned char Client::NextTag()
{
    FTag = static_cast<unsigned char>(FTag % 255 + 1);   // 1..255; 0 is every other event's
    return FTag;
}

OSStatus Client::StageBytes(Port& port, snd_midi_event_t* coder, int route, MIDITimeStamp stamp,
                            const uint8_t* data, size_t length, SendClock& clock, Outgoing& out)
{
    if (!clock.known)
    {
        snd_seq_queue_status_t* status = nullptr;
        snd_seq_queue_status_alloca(&status);
        if (snd_seq_get_queue_status(FSeq.get(), FQueue, status) < 0)
            return kMIDIErrMessageSend;
        clock.hostNow = AudioGetCurrentHostTime();
        clock.queueNanos = ToNanos(*snd_seq_queue_status_get_real_time(status));
        clock.pending = snd_seq_queue_status_get_events(status) > 0;
        clock.known = true;
    }

    // Due bytes go straight out unless scheduled ones still wait, which they must not overtake;
    // the rest waits in the queue until the queue's clock has moved on as far as the host clock
    // has to reach the stamp. The queue's clock counts only timer periods that have passed, so it
    // does not run ahead of real time and nothing arrives early.
    const bool direct = stamp <= clock.hostNow && !clock.pending;
    uint64_t at = clock.queueNanos + (stamp > clock.hostNow ? stamp - clock.hostNow : 0);
    if (stamp >= port.lastStamp)
    {
        // Reading the queue's clock at another moment may give a slightly earlier mapping;
        // a later stamp still never goes before the packet scheduled last.
        at = std::max(at, port.lastQueueNanos);
        port.lastStamp = stamp;
        port.lastQueueNanos = at;
    }
    if (!direct)
        clock.pending = true;
    const snd_seq_real_time_t when = ToRealTime(at);

    size_t offset = 0;
    while (offset < length)
    {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        const long used = snd_midi_event_encode(coder, data + offset, static_cast<long>(length - offset), &event);
        if (used <= 0)
            return kMIDIErrMessageSend;
        offset += static_cast<size_t>(used);
        if (event.type == SND_SEQ_EVENT_NONE)
            continue;   // the message goes on in the next bytes or packet
        snd_seq_ev_set_source(&event, route);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_tag(&event, out.tag);
        if (direct)
            snd_seq_ev_set_direct(&event);
        else
        {
            event.queue = static_cast<unsigned char>(FQueue);
            const unsigned timeFlags = SND_SEQ_TIME_STAMP_MASK | SND_SEQ_TIME_MODE_MASK;
            event.flags = static_cast<unsigned char>((event.flags & ~timeFlags) | SND_SEQ_TIME_STAMP_REAL
                                                     | SND_SEQ_TIME_MODE_ABS);
            event.time.time = when;
        }
        // The kernel keeps an event in one cell and its SysEx bytes in further cells of the
        // size of an event.
        out.cells += 1;
        if (snd_seq_ev_is_variable(&event))
        {
            const size_t extLength = event.data.ext.len;
            const auto* ext = static_cast<const uint8_t*>(event.data.ext.ptr);
            out.cells += (extLength + sizeof(snd_seq_event_t) - 1) / sizeof(snd_seq_event_t);
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

// Whether client (a program, not a driver) has room in its input for cells events and SysEx
// pieces; a send that needs more than three quarters of the whole input needs that much free (a
// reading program takes pieces as they come). A program that stopped reading gets nothing rather
// than the start of a message.
bool ReceiverHasRoom(snd_seq_t* seq, int client, size_t cells)
{
    pollfd fd {};
    if (snd_seq_type(seq) != SND_SEQ_TYPE_HW || snd_seq_poll_descriptors(seq, &fd, 1, POLLIN) != 1)
        return true;
    int pool = 0;
    int free = 0;
    if (!PeerInputPool(fd.fd, client, pool, free) || pool <= 0)
        return true;   // gone (the write decides) or a driver
    return static_cast<size_t>(free) >= std::min(cells, static_cast<size_t>(pool) * 3 / 4);
}

} // namespace

OSStatus Client::WriteOut(Outgoing& out, Address destination, size_t receiverCells)
{
    if (out.events.empty())
        return 0;
    if (!ReceiverHasRoom(FSeq.get(), destination.client, std::max(receiverCells, out.cells)))
    {
        Withdraw(out);
        return kMIDIErrMessageSend;
    }
    const auto giveUp = std::chrono::steady_clock::now() + kRoomWait;
    for (snd_seq_event_t& event : out.events)
    {
        if (snd_seq_ev_is_variable(&event))
            event.data.ext.ptr = out.bytes.data() + reinterpret_cast<size_t>(event.data.ext.ptr);
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
            Withdraw(out);
            return kMIDIErrMessageSend;
        }
        if (!snd_seq_ev_is_direct(&event))
            out.firstQueued = std::min(out.firstQueued, ToNanos(event.time.time));
    }
    return 0;
}

void Client::Withdraw(const Outgoing& out)
{
    if (out.firstQueued == UINT64_MAX || FQueue < 0)
        return;
    // Events that went straight out have arrived; what waits in the queue is taken out again.
    // Only our events at or after this send's first queue time with its tag go: an older send
    // with the same tag (255 sends earlier) would also have to wait later than this one.
    snd_seq_remove_events_t* remove = nullptr;
    snd_seq_remove_events_alloca(&remove);
    snd_seq_remove_events_set_condition(remove, SND_SEQ_REMOVE_OUTPUT | SND_SEQ_REMOVE_TAG_MATCH
                                                    | SND_SEQ_REMOVE_TIME_AFTER);
    snd_seq_remove_events_set_queue(remove, FQueue);
    snd_seq_remove_events_set_tag(remove, out.tag);
    snd_seq_timestamp_t from {};
    from.time = ToRealTime(out.firstQueued);
    snd_seq_remove_events_set_time(remove, &from);
    snd_seq_remove_events(FSeq.get(), remove);
}

OSStatus Client::Send(Port& port, MIDIEndpointRef ref, const Endpoint& destination, const MIDIPacketList& list)
{
    if (port.isInput)
        return kMIDIErrInvalidPort;
    std::lock_guard<std::mutex> lock(FOutputMutex);
    int route = -1;
    const OSStatus prepared = PrepareDestination(port, ref, destination, route);
    if (prepared != 0)
        return prepared;
    MidiCoder& coder = port.coders[ref];
    if (!coder)
        coder = NewMidiCoder(kEventBytes);
    const MIDITimeStamp lastStamp = port.lastStamp;
    const uint64_t lastQueueNanos = port.lastQueueNanos;
    Outgoing& out = FOutgoing;
    out.Clear();
    out.tag = NextTag();
    out.firstQueued = UINT64_MAX;
    SendClock clock;
    OSStatus status = 0;
    try
    {
        const MIDIPacket* packet = &list.packet[0];
        for (uint32_t i = 0; i < list.numPackets && status == 0; ++i)
        {
            status = StageBytes(port, coder.get(), route, packet->timeStamp, packet->data, packet->length, clock, out);
            packet = MIDIPacketNext(packet);
        }
        if (status == 0)
            status = WriteOut(out, destination.address, 0);
    }
    catch (const std::bad_alloc&)
    {
        status = kMIDIErrMessageSend;   // nothing was written yet
    }
    if (status != 0)
    {
        // The send is dropped whole: the rest of a message it began must not become the start of
        // the next one, and the packets it scheduled are not in the queue for later ones to wait for.
        snd_midi_event_reset_encode(coder.get());
        port.lastStamp = lastStamp;
        port.lastQueueNanos = lastQueueNanos;
    }
    return status;
}

OSStatus Client::QueueSysex(const std::shared_ptr<Port>& port, MIDISysexSendRequest* request,
                            const Endpoint& destination)
{
    {
        std::lock_guard<std::mutex> lock(FSysexMutex);
        if (FStopping)
            return kMIDIErrInvalidClient;
        if (!FSysexThread.joinable())
            FSysexThread = std::thread(&Client::SysexLoop, this);
        FSysexJobs.push_back(SysexJob { port, request, destination });
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
        MIDISysexSendRequest* const request = job.request;
        // A coder of its own: messages sent meanwhile to the same destination cannot cut in.
        MidiCoder coder;
        // The request's pieces carry one tag, so a piece that fails takes those of its pieces
        // that still wait in the queue with it.
        Outgoing out;
        // When stopping, requests not yet sent are completed at once with their bytes left over.
        while (request->bytesToSend > 0 && !FStopping)
        {
            const std::shared_ptr<Port> port = job.port.lock();
            if (!port)
                break;
            const size_t piece = std::min<size_t>(kEventBytes, request->bytesToSend);
            const size_t left = request->bytesToSend;
            lock.unlock();
            OSStatus status = 0;
            try
            {
                if (!coder)
                    coder = NewMidiCoder(kEventBytes);
                std::lock_guard<std::mutex> output(FOutputMutex);
                if (out.tag == 0)
                    out.tag = NextTag();
                out.Clear();
                SendClock clock;
                int route = -1;
                status = PrepareDestination(*port, request->destination, job.destination, route);
                if (status == 0)
                    status = StageBytes(*port, coder.get(), route, AudioGetCurrentHostTime(), request->data, piece,
                                        clock, out);
                // The receiver must have room for what is left of the request, so that a program
                // that has stopped reading gets none of it rather than its first pieces.
                if (status == 0)
                    status = WriteOut(out, job.destination.address, SysexCells(left));
                else
                    Withdraw(out);
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
                FSysexWake.wait_for(lock, std::chrono::nanoseconds(piece * kNanosPerByte),
                                    [this] { return FStopping; });
        }
        lock.unlock();
        request->complete.store(true, std::memory_order_release);
        if (request->completionProc != nullptr)
            request->completionProc(request);
        lock.lock();
    }
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
    std::shared_ptr<Client> client;
    std::shared_ptr<Alsa::Port> port = Client::AnyOutputPort(&client);
    if (!port)
        return kMIDIErrInvalidPort;
    try
    {
        Alsa::Endpoint target;
        if (!Alsa::EndpointOfRef(request->destination, target))
            return kMIDIErrUnknownEndpoint;
        return client->QueueSysex(port, request, target);
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
