#include "platform/AlsaReceiverRoom.h"

#include <algorithm>

namespace Alsa {

namespace {

// How long after its time an event may still wait in our queue. The time the kernel tells runs
// ahead of its last timer tick, and the due events leave only at the next one, a few milliseconds
// later; counting them twice meanwhile (here and in the receiver's input) costs a refusal at worst.
const uint64_t kHandOverNanos = 50000000;

} // namespace

std::shared_ptr<ReceiverRoom> ReceiverRoom::Process()
{
    static const std::shared_ptr<ReceiverRoom> room = std::make_shared<ReceiverRoom>();
    return room;
}

ReceiverRoom::Claim::Claim(ReceiverRoom& room, int receiver) : FLock(room.FMutex), FEvents(room.FByReceiver[receiver])
{
}

size_t ReceiverRoom::Claim::Pending(const QueueClock& clock)
{
    std::map<int, uint64_t> now;   // by queue, read once
    size_t cells = 0;
    for (auto event = FEvents.begin(); event != FEvents.end();)
    {
        auto time = now.find(event->queue);
        if (time == now.end())
        {
            uint64_t nanos = 0;
            time = now.emplace(event->queue, clock(event->queue, nanos) ? nanos : 0).first;
        }
        if (event->due + kHandOverNanos < time->second)
            event = FEvents.erase(event);
        else
            cells += (event++)->cells;
    }
    return cells;
}

void ReceiverRoom::Claim::Add(int queue, uint16_t identity, uint64_t due, size_t cells)
{
    if (!FEvents.empty())
    {
        Scheduled& last = FEvents.back();
        if (last.queue == queue && last.identity == identity && last.due == due)
        {
            last.cells += cells;
            return;
        }
    }
    FEvents.push_back(Scheduled { queue, identity, due, cells });
}

void ReceiverRoom::Withdraw(int queue, uint16_t identity, uint64_t from)
{
    Drop([&](const Scheduled& event) { return event.queue == queue && event.identity == identity && event.due >= from; });
}

void ReceiverRoom::Forget(int queue)
{
    Drop([queue](const Scheduled& event) { return event.queue == queue; });
}

void ReceiverRoom::Drop(const std::function<bool(const Scheduled&)>& gone)
{
    std::lock_guard<std::mutex> lock(FMutex);
    for (auto receiver = FByReceiver.begin(); receiver != FByReceiver.end();)
    {
        std::vector<Scheduled>& events = receiver->second;
        events.erase(std::remove_if(events.begin(), events.end(), gone), events.end());
        receiver = events.empty() ? FByReceiver.erase(receiver) : std::next(receiver);
    }
}

} // namespace Alsa
