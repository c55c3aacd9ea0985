#include "platform/AlsaClient.h"
#include "platform/HostClock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include <poll.h>

namespace Alsa {

namespace {

const size_t kMaxPacketLength = 65535;
// How long an end marker that our full pool refused waits before it is offered again: the pool
// empties only as the scheduled events in it leave.
const auto kMarkerRetry = std::chrono::milliseconds(50);

} // namespace

void Client::ReceiveLoop()
{
    snd_seq_t* const seq = FSeq.get();
    const int count = snd_seq_poll_descriptors_count(seq, POLLIN);
    std::vector<pollfd> fds(static_cast<size_t>(count) + 2);
    snd_seq_poll_descriptors(seq, fds.data(), static_cast<unsigned>(count), POLLIN);
    pollfd& wake = fds[static_cast<size_t>(count)];
    wake.fd = FWake.fd();
    wake.events = POLLIN;
    pollfd& refused = fds.back();
    refused.fd = FMarkerRefused.fd();
    refused.events = POLLIN;
    // Waits have no end unless a refused marker is to be offered again.
    bool retrying = false;
    std::chrono::steady_clock::time_point retryAt;

    for (;;)
    {
        int timeout = -1;
        if (retrying)
            timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(
                0, std::chrono::ceil<std::chrono::milliseconds>(retryAt - std::chrono::steady_clock::now()).count()));
        if (poll(fds.data(), fds.size(), timeout) < 0)
        {
            if (errno == EINTR)
                continue;
            return;
        }
        if (wake.revents != 0)
            return;
        if (refused.revents != 0)
        {
            FMarkerRefused.Clear();
            if (!retrying)
                retryAt = std::chrono::steady_clock::now() + kMarkerRetry;
            retrying = true;
        }
        if (retrying && std::chrono::steady_clock::now() >= retryAt)
        {
            retrying = false;
            RequeueRouteEnds(false);   // signals again while the pool stays full
        }
        // Read what poll announced and what is buffered already (the connection does not block).
        for (;;)
        {
            snd_seq_event_t* event = nullptr;
            const int result = snd_seq_event_input(seq, &event);
            if (result == -ENOSPC)
            {
                // Our input overflowed and the kernel dropped all that waited in it; what follows
                // is good again and wakes us up.
                OnInputOverflow();
                break;
            }
            if (result < 0 || event == nullptr)
                break;
            Dispatch(*event);
            if (snd_seq_event_input_pending(seq, 0) <= 0)
                break;
        }
    }
}

void Client::OnInputOverflow()
{
    // A message cut off by the loss must not lend its status to the bytes that come next.
    snd_midi_event_reset_decode(FDecoder.get());
    // The end markers of retired routes may have been among the losses; another program can fill
    // our input on purpose, since a route must take the marker and so is writable by anyone.
    RequeueRouteEnds(true);
    if (FNotifyProc == nullptr)
        return;
    // Port announcements were among the losses, perhaps a whole burst of them: the listener lists
    // the ports anew, as after any change.
    ForgetClosingClients(FRef);
    Deliver(FRef, kMIDIMsgSetupChanged);
}

void Client::Dispatch(const snd_seq_event_t& event)
{
    if (IsAnnouncement(event))
    {
        Announce(event);
        return;
    }
    if (IsRouteEnd(event))
    {
        EndRoute(event);
        return;
    }
    std::shared_ptr<Port> port;
    {
        std::lock_guard<std::mutex> lock(FPortsMutex);
        auto found = FPorts.find(event.dest.port);
        if (found != FPorts.end())
            port = found->second;
    }
    if (!port || !port->isInput)
        return;

    const uint8_t* bytes = nullptr;
    size_t length = 0;
    unsigned char decoded[32];
    if (event.type == SND_SEQ_EVENT_SYSEX)
    {
        bytes = static_cast<const uint8_t*>(event.data.ext.ptr);
        length = event.data.ext.len;
    }
    else
    {
        // Events that are no MIDI message (subscription news, for one) decode to nothing.
        const long n = snd_midi_event_decode(FDecoder.get(), decoded, sizeof decoded, &event);
        if (n <= 0)
            return;
        bytes = decoded;
        length = static_cast<size_t>(n);
    }

    std::lock_guard<std::recursive_mutex> lock(port->callbackMutex);
    const Address source { event.source.client, event.source.port };
    auto connection = port->connections.find(AddressKey(source));
    if (!port->alive || connection == port->connections.end())
        return;
    const MIDITimeStamp now = AudioGetCurrentHostTime();
    std::vector<uint8_t> buffer;
    for (size_t offset = 0; offset < length; offset += kMaxPacketLength)
    {
        const size_t piece = std::min(kMaxPacketLength, length - offset);
        buffer.resize(MIDIPacketListSizeFor(piece));
        auto* list = reinterpret_cast<MIDIPacketList*>(buffer.data());
        MIDIPacketListAdd(list, buffer.size(), MIDIPacketListInit(list), now, piece, bytes + offset);
        port->readProc(list, port->readProcRefCon, connection->second);
        // The routine may have disconnected the source or disposed of the port.
        if (!port->alive || port->connections.count(AddressKey(source)) == 0)
            return;
    }
}

} // namespace Alsa
