#pragma once
// What the clients of this process have scheduled toward other programs and not yet handed over,
// by receiving client. A program's input that cannot take an event is marked overflowed, and its
// next read loses everything that waited there, sends that did fit included; so a send to a
// program is written only when its input can hold it besides all of ours that is still to come.
// Receivers go by client number: a program that takes over the number of one that ended finds
// its room short until our events for the old one are due, refused meanwhile but never overflowed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace Alsa {

class ReceiverRoom
{
    // Events of one send that leave our queue at one time.
    struct Scheduled
    {
        int queue;
        uint16_t identity;
        uint64_t due;
        size_t cells;
    };

public:
    // The one of this process; each client keeps it alive while it may need it.
    static std::shared_ptr<ReceiverRoom> Process();

    // The current time of a sequencer queue; false when it cannot be read.
    using QueueClock = std::function<bool(int queue, uint64_t& nanos)>;

    // Holds the receiver's share from the look at what waits for it to the record of what a send
    // queued for it, so that two of our clients never both take the last of its room.
    class Claim
    {
    public:
        Claim(ReceiverRoom& room, int receiver);
        // Cells of our scheduled events that may not be in the receiver's input yet. What is due
        // still counts for a while: the kernel moves the queue's time on before it hands the
        // due events over.
        size_t Pending(const QueueClock& clock);
        // An event of the send identity queued to leave at due.
        void Add(int queue, uint16_t identity, uint64_t due, size_t cells);

    private:
        std::lock_guard<std::mutex> FLock;
        std::vector<Scheduled>& FEvents;
    };

    // The events of identity in queue from queue time from on were taken out of the queue.
    void Withdraw(int queue, uint16_t identity, uint64_t from);
    // The queue is freed, and its events with it.
    void Forget(int queue);

private:
    void Drop(const std::function<bool(const Scheduled&)>& gone);

    std::mutex FMutex;
    std::map<int, std::vector<Scheduled>> FByReceiver;
};

} // namespace Alsa
