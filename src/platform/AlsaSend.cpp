#include "platform/AlsaClient.h"
#include "platform/HostClock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <system_error>

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
        snd_seq_free_queue(FSeq.get(), queue);
        return false;
    }
    FQueue = queue;
    return true;
}

OSStatus Client::PrepareDestination(Port& port, const Endpoint& destination)
{
    // A port that took over the address of the one we were asked for counts as that one gone:
    // nothing reaches a program or device nobody chose.
    snd_seq_port_info_t* info = nullptr;
    snd_seq_port_info_alloca(&info);
    if (!IsStillThere(FSeq.get(), destination, info) || !IsEndpointPort(info, false))
        return kMIDIErrUnknownEndpoint;
    // Drivers open their device only while a port is subscribed to them and ignore events before;
    // a subscription that exists already (-EBUSY) is fine. It ends with our port or theirs, so a
    // device that comes back is subscribed anew by the next send.
    const Address address = destination.address;
    const int result = snd_seq_connect_to(FSeq.get(), port.alsaPort, address.client, address.port);
    return result >= 0 || result == -EBUSY ? 0 : kMIDIErrMessageSend;
}

OSStatus Client::SendBytes(Port& port, snd_midi_event_t* coder, Address destination, MIDITimeStamp stamp,
                           const uint8_t* data, size_t length, SendClock& clock)
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
        snd_seq_ev_set_source(&event, port.alsaPort);
        snd_seq_ev_set_dest(&event, destination.client, destination.port);
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
        if (snd_seq_event_output(FSeq.get(), &event) < 0)
            return kMIDIErrMessageSend;
    }
    return 0;
}

OSStatus Client::Send(Port& port, MIDIEndpointRef ref, const Endpoint& destination, const MIDIPacketList& list)
{
    if (port.isInput)
        return kMIDIErrInvalidPort;
    std::lock_guard<std::mutex> lock(FOutputMutex);
    const OSStatus prepared = PrepareDestination(port, destination);
    if (prepared != 0)
        return prepared;
    MidiCoder& coder = port.coders[ref];
    if (!coder)
        coder = NewMidiCoder(kEventBytes);
    SendClock clock;
    OSStatus status = 0;
    const MIDIPacket* packet = &list.packet[0];
    for (uint32_t i = 0; i < list.numPackets && status == 0; ++i)
    {
        status = SendBytes(port, coder.get(), destination.address, packet->timeStamp, packet->data, packet->length,
                           clock);
        packet = MIDIPacketNext(packet);
    }
    // What was accepted before a failure still goes out.
    if (snd_seq_drain_output(FSeq.get()) < 0 && status == 0)
        status = kMIDIErrMessageSend;
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
        // When stopping, requests not yet sent are completed at once with their bytes left over.
        while (request->bytesToSend > 0 && !FStopping)
        {
            const std::shared_ptr<Port> port = job.port.lock();
            if (!port)
                break;
            const size_t piece = std::min<size_t>(kEventBytes, request->bytesToSend);
            lock.unlock();
            OSStatus status = 0;
            try
            {
                if (!coder)
                    coder = NewMidiCoder(kEventBytes);
                std::lock_guard<std::mutex> output(FOutputMutex);
                SendClock clock;
                status = PrepareDestination(*port, job.destination);
                if (status == 0)
                    status = SendBytes(*port, coder.get(), job.destination.address, AudioGetCurrentHostTime(),
                                       request->data, piece, clock);
                if (snd_seq_drain_output(FSeq.get()) < 0)
                    status = kMIDIErrMessageSend;
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
