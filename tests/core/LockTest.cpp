#include "core/TrLock.h"

#include "SanitizerSkips.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <random>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{
// Runs `body` on a thread of its own and raises `done` after it; joined when it goes out of scope.
class Probe
{
public:
    template <typename F>
    explicit Probe(F body) : FThread([this, body] { body(); done = true; }) {}
    ~Probe() { FThread.join(); }
    std::atomic<bool> done{false};

private:
    std::thread FThread;
};

// True when the probe has not got through after a while: it waits on something held.
bool StaysOut(const Probe& probe)
{
    std::this_thread::sleep_for(150ms);
    return !probe.done;
}
}

TEST(Lock, RecursiveHoldBlocksOtherThreadsUntilFullyLeft)
{
    Tr::TLock lock;
    lock.Enter();
    lock.Enter();
    {
        Probe other([&] { lock.Enter(); lock.Leave(); });
        EXPECT_TRUE(StaysOut(other)) << "another thread entered a lock held two deep";
        lock.Leave();
        EXPECT_TRUE(StaysOut(other)) << "the lock was released before its second Leave";
        lock.Leave();
        EXPECT_TRUE(WaitUntil([&] { return other.done.load(); })) << "the lock stayed taken after the last Leave";
    }

    int counter = 0;
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < 5000; ++i)
            {
                lock.Enter();
                lock.Enter();
                ++counter;
                lock.Leave();
                lock.Leave();
            }
        });
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(counter, 4 * 5000) << "nested entries from several threads overlapped";

    bthread_lock_t raw;
    ASSERT_TRUE(bthread_lock_init(&raw));
    EXPECT_TRUE(bthread_lock_trylock(&raw)) << "trylock failed on a free lock";
    EXPECT_TRUE(bthread_lock_trylock(&raw)) << "the holding thread must get its own lock";
    bool otherGot = true;
    std::thread([&] { otherGot = bthread_lock_trylock(&raw); }).join();
    EXPECT_FALSE(otherGot) << "trylock from another thread succeeded while the lock was held";
    // Destroying a lock its own thread still holds gives it up first.
    bthread_lock_deinit(&raw);
}

TEST(Event, WaitsEndOnNotificationOrTimeOut)
{
    Tr::TEvent event;
    event.Notify();
    auto start = Clock::now();
    event.WaitMs(1000);
    const auto waited = MillisSince(start);
    EXPECT_GE(waited, 950) << "a notification given before the wait ended it, or the time-out came early";
    EXPECT_LT(waited, 10000);

    // Zero and no time limit both wait until notified.
    for (int ms : {0, -1})
    {
        Probe waiter([&] { ms == -1 ? event.Wait() : event.WaitMs(ms); });
        EXPECT_TRUE(StaysOut(waiter)) << "WaitMs(" << ms << ") returned without a notification";
        EXPECT_TRUE(WaitUntil([&] { event.Notify(); return waiter.done.load(); }));
    }

    // One notification wakes every waiter.
    std::atomic<int> waiting{0}, woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] { ++waiting; event.Wait(); ++woken; });
    ASSERT_TRUE(WaitUntil([&] { return waiting == 3; }));
    std::this_thread::sleep_for(200ms);
    event.Notify();
    EXPECT_TRUE(WaitUntil([&] { return woken == 3; }, 5s)) << "a notification woke only " << woken << " of 3 waiters";
    WaitUntil([&] { event.Notify(); return woken == 3; });
    for (auto& w : waiters)
        w.join();
}

TEST(LockedEvent, WaiterKeepsItsDepthWhileOthersEnterAndLeave)
{
    Tr::TLockedEvent event;
    bool go = false;                      // guarded by the event's lock
    std::atomic<bool> ready{false}, leftTwo{false}, releaseLast{false};
    std::thread waiter([&] {
        event.Enter();
        event.Enter();
        event.Enter();
        ready = true;
        while (!go)
            event.Wait();
        event.Leave();
        event.Leave();
        leftTwo = true;
        WaitUntil([&] { return releaseLast.load(); });
        event.Leave();
    });

    ASSERT_TRUE(WaitUntil([&] { return ready.load(); }));
    // Entering succeeds only once the waiter's wait has released the lock; leaving must really
    // release it again, or the notifying thread and then the waiter could never get it.
    event.Enter();
    event.Enter();
    event.Leave();
    event.Leave();
    std::thread([&] { event.Enter(); go = true; event.Notify(); event.Leave(); }).join();
    ASSERT_TRUE(WaitUntil([&] { return leftTwo.load(); })) << "the waiter never got its lock back";
    {
        Probe prober([&] { event.Enter(); event.Leave(); });
        EXPECT_TRUE(StaysOut(prober)) << "the waiter came back from its wait with less than its depth of 3";
        releaseLast = true;
        waiter.join();
        EXPECT_TRUE(WaitUntil([&] { return prober.done.load(); })) << "the waiter came back with more than its depth";
    }

    // A timed-out wait also comes back with the depth, and leaving that depth frees the lock.
    event.Enter();
    event.Enter();
    const auto start = Clock::now();
    event.WaitMs(100);
    EXPECT_GE(MillisSince(start), 90) << "a timed wait ended early";
    event.Leave();
    Probe second([&] { event.Enter(); event.Leave(); });
    EXPECT_TRUE(StaysOut(second)) << "a timed-out wait lost one level of the depth";
    event.Leave();
}

TEST(RWLock, ReadersShareWritersExclude)
{
    Tr::TRWLock lock;
    std::atomic<int> step{0};
    std::atomic<bool> writing{false};
    lock.Enter(0);
    Probe otherReader([&] {
        lock.Enter(0);
        step = 1;
        WaitUntil([&] { return step == 2; });
        lock.Leave(0);
    });
    ASSERT_TRUE(WaitUntil([&] { return step == 1; })) << "a second reader could not join the first";

    // A writer waits for every reader, in whatever order they leave; a new reader waits for the writer.
    Probe writer([&] {
        lock.Enter(1);
        writing = true;
        lock.Enter(0);                    // the writing thread may also read, and write again
        lock.Enter(1);
        lock.Leave(1);
        lock.Leave(0);
        WaitUntil([&] { return step == 3; });
        lock.Leave(1);
    });
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(writing) << "a writer entered while two readers were in";
    step = 2;
    ASSERT_TRUE(WaitUntil([&] { return otherReader.done.load(); }));
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(writing) << "a writer entered while the first reader was still in";
    lock.Leave(0);
    ASSERT_TRUE(WaitUntil([&] { return writing.load(); })) << "the writer stayed out after the last reader left";
    Probe reader([&] { lock.Enter(0); lock.Leave(0); });
    EXPECT_TRUE(StaysOut(reader)) << "a reader entered while a writer was in";
    step = 3;
    EXPECT_TRUE(WaitUntil([&] { return reader.done.load(); })) << "a reader missed the writer's leaving";
}

TEST(RWLock, MixedLoadKeepsExclusionAndNeverStalls)
{
    Tr::TRWLock lock;
    std::atomic<int> readersIn{0}, writersIn{0}, faults{0};
    long a = 0, b = 0;                    // written only under the write lock, kept equal
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 random(1234u + static_cast<unsigned>(t));
            for (int i = 0; i < 3000; ++i)
            {
                const unsigned char write = random() % 4 == 0;
                lock.Enter(write);
                if (write)
                {
                    if (++writersIn != 1 || readersIn != 0)
                        ++faults;
                    ++a;
                    std::this_thread::yield();
                    ++b;
                    --writersIn;
                }
                else
                {
                    ++readersIn;
                    std::this_thread::yield();
                    if (writersIn != 0 || a != b)
                        ++faults;
                    --readersIn;
                }
                lock.Leave(write);
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(faults.load(), 0) << "readers and writers overlapped";
}

TEST(RWLock, ReaderNeverMissesTheWritersLeaving)
{
    // The reader tests for a writer just as the writer leaves; a notification lost between that test
    // and the wait would leave the reader waiting with nobody left to wake it.
    Tr::TRWLock lock;
    std::mt19937 random(42);
    for (int round = 0; round < 1000; ++round)
    {
        lock.Enter(1);
        Probe reader([&] { lock.Enter(0); lock.Leave(0); });
        for (unsigned spin = random() % 64; spin > 0; --spin)
            std::this_thread::yield();
        lock.Leave(1);
        const bool entered = WaitUntil([&] { return reader.done.load(); }, 5s);
        if (!entered)
        {
            lock.Enter(1);                // a second leaving wakes the stranded reader, so the test can end
            lock.Leave(1);
        }
        ASSERT_TRUE(entered) << "round " << round << ": the reader missed the writer's leaving";
    }
}

namespace
{
void* RecordSelf(void* arg)
{
    *static_cast<pthread_t*>(arg) = pthread_self();
    return nullptr;
}

void* SpinUntilCancelled(void* arg)
{
    struct SetOnUnwind
    {
        std::atomic<int>& state;
        ~SetOnUnwind() { state = 2; }
    } guard{*static_cast<std::atomic<int>*>(arg)};
    guard.state = 1;
    for (;;)
        std::this_thread::sleep_for(1ms);
}
}

TEST(BThread, CreateKeepsTheWholeHandleAndCancelNeverReusesIt)
{
    SKIP_THREAD_CANCEL_UNDER_ASAN();
    for (TThreadPrio prio : {prioDefault, prioHighest})
    {
        pthread_t seen{};
        bthread_handle_t handle;
        unsigned id = 12345;
        ASSERT_TRUE(bthread_create(RecordSelf, &seen, 0, "probe", &handle, prio, &id)) << "priority " << prio;
        EXPECT_EQ(id, prio == prioDefault ? 12345u : 0u) << "priority " << prio;
        EXPECT_EQ(bthread_join(&handle), 0);
        EXPECT_TRUE(pthread_equal(seen, handle.thread)) << "the handle does not name the thread it made";
        EXPECT_FALSE(handle.valid);
        EXPECT_EQ(bthread_cancel(&handle), ESRCH) << "a reclaimed handle must not cancel anything";
    }

    std::atomic<int> state{0};            // 1 running, 2 unwound
    bthread_handle_t handle;
    ASSERT_TRUE(bthread_create(SpinUntilCancelled, &state, 0, "spinner", &handle, prioDefault, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return state != 0; }));
    EXPECT_EQ(bthread_cancel(&handle), 0);
    EXPECT_EQ(state, 2) << "the cancelled thread had not ended when cancel returned";
    EXPECT_EQ(bthread_cancel(&handle), ESRCH) << "a second cancel through the same handle reached a thread";
}

TEST(BThread, SleepTakesMicrosecondsUpToOneThousandElseWholeSeconds)
{
    auto start = Clock::now();
    bsleep(500);
    EXPECT_LT(MillisSince(start), 1000);
    start = Clock::now();
    bsleep(1999);
    const auto slept = MillisSince(start);
    EXPECT_GE(slept, 950);
    EXPECT_LT(slept, 1900) << "bsleep above 1000 sleeps whole seconds only";
}
