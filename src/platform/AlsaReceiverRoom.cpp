#include "platform/AlsaReceiverRoom.h"

#include <iterator>

namespace Alsa {

std::shared_ptr<ReceiverRoom> ReceiverRoom::Process()
{
    static const std::shared_ptr<ReceiverRoom> room = std::make_shared<ReceiverRoom>();
    return room;
}

ReceiverRoom::Claim::Claim(ReceiverRoom& room, int receiver) : FRoom(room), FLock(room.FMutex), FReceiver(receiver)
{
}

size_t ReceiverRoom::Claim::Pending(const QueueEvents& events)
{
    size_t cells = 0;
    for (auto queue = FRoom.FQueues.begin(); queue != FRoom.FQueues.end();)
    {
        Log& log = queue->second;
        size_t waiting = 0;
        // A queue that cannot be read keeps all it logged: counted too often rather than not.
        if (events(queue->first, waiting))
        {
            // The kernel takes an event out of the queue a moment before it puts it into the
            // receiver's input: the one before those still waiting may be on its way.
            const size_t kept = waiting + 1;
            if (log.size() > kept)
                log.erase(log.begin(), std::next(log.begin(), static_cast<std::ptrdiff_t>(log.size() - kept)));
        }
        for (const auto& entry : log)
            if (entry.second.receiver == FReceiver)
                cells += entry.second.cells;
        queue = log.empty() ? FRoom.FQueues.erase(queue) : std::next(queue);
    }
    return cells;
}

void ReceiverRoom::Claim::Add(int queue, uint16_t identity, uint64_t due, size_t cells, bool counted)
{
    FRoom.FQueues[queue].emplace(due, Queued { counted ? FReceiver : -1, false, identity, cells });
}

void ReceiverRoom::AddMarker(int queue, uint64_t due)
{
    std::lock_guard<std::mutex> lock(FMutex);
    FQueues[queue].emplace(due, Queued { -1, true, 0, 0 });
}

void ReceiverRoom::Withdraw(int queue, uint16_t identity, uint64_t from)
{
    std::lock_guard<std::mutex> lock(FMutex);
    auto found = FQueues.find(queue);
    if (found == FQueues.end())
        return;
    Log& log = found->second;
    for (auto entry = log.lower_bound(from); entry != log.end();)
        entry = !entry->second.marker && entry->second.identity == identity ? log.erase(entry) : std::next(entry);
}

void ReceiverRoom::Forget(int queue)
{
    std::lock_guard<std::mutex> lock(FMutex);
    FQueues.erase(queue);
}

} // namespace Alsa
