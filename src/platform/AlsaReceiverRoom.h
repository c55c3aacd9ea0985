#pragma once
// What the clients of this process have scheduled toward other programs and not yet handed over,
// by receiving client. A program's input that cannot take an event is marked overflowed, and its
// next read loses everything that waited there, sends that did fit included; so a send to a
// program is written only when its input can hold it besides all of ours that is still to come.
//
// Which of our events are still to come is not told by the queue's time: the kernel tells a time
// that runs on between its timer ticks, and hands the due events over only at the next tick, which
// a busy machine delays without bound. What it does tell exactly is how many events a queue still
// holds, and it hands them over strictly in the order of their times, those of equal time in the
// order they came. So each queue's events are logged in that order, every event that goes into the
// queue (also those for drivers and our own route markers), and the ones still waiting are the
// last of the log as many as the queue holds.
//
// Receivers go by client number: a program that takes over the number of one that ended finds
// its room short until our events for the old one have left, refused meanwhile but never
// overflowed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace Alsa {

class ReceiverRoom
{
    // One event in a queue: for which receiver (-1: none that is counted), of which send, and the
    // cells it takes at the receiver.
    struct Queued
    {
        int receiver;
        bool marker;        // a route's end marker, which no withdrawal takes out
        uint16_t identity;
        size_t cells;
    };
    // By queue time; a multimap keeps equal times in the order they came, as the queue does.
    using Log = std::multimap<uint64_t, Queued>;

public:
    // The one of this process; each client keeps it alive while it may need it.
    static std::shared_ptr<ReceiverRoom> Process();

    // How many events a sequencer queue still holds; false when it cannot be read.
    using QueueEvents = std::function<bool(int queue, size_t& events)>;

    // Holds the room from the look at what waits for the receiver to the record of what a send
    // queued, so that two of our clients never both take the last of a receiver's input.
    class Claim
    {
    public:
        Claim(ReceiverRoom& room, int receiver);
        // Cells of our queued events that may not be in the receiver's input yet.
        size_t Pending(const QueueEvents& events);
        // An event of the send identity went into queue to leave at due; not counted for the
        // receiver when it is a driver, but logged all the same for its place in the queue.
        void Add(int queue, uint16_t identity, uint64_t due, size_t cells, bool counted = true);

    private:
        ReceiverRoom& FRoom;
        std::lock_guard<std::mutex> FLock;
        const int FReceiver;
    };

    // A route's end marker went into queue to leave at due.
    void AddMarker(int queue, uint64_t due);
    // The events of identity in queue from queue time from on were taken out of the queue.
    void Withdraw(int queue, uint16_t identity, uint64_t from);
    // The queue is freed, and its events with it.
    void Forget(int queue);

private:
    std::mutex FMutex;
    std::map<int, Log> FQueues;
};

} // namespace Alsa
