#include "core/TrLock.h"

#include "SanitizerSkips.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <future>
#include <random>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace
{
// Runs `body` on a thread of its own and raises `done` after it; joined when it goes out of scope.
class Probe
{
public:
    template <typename F>
    explicit Probe(F body) : FThread([this, body] { body(); done = true; }) {}
    ~Probe()
    {
        if (!GetsThrough())
            std::abort();                 // still stuck after a failed check: end the run rather than hang it
        FThread.join();
    }
    bool StaysOut()                       // not through after a while: it waits on something held
    {
        std::this_thread::sleep_for(150ms);
        return !done;
    }
    bool GetsThrough() { return WaitUntil([this] { return done.load(); }); }
    std::atomic<bool> done{false};

private:
    std::thread FThread;
};
}

TEST(Lock, RecursiveHoldBlocksOtherThreadsUntilFullyLeft)
{
    Tr::TLock lock;
    lock.Enter();
    lock.Enter();
    {
        Probe other([&] { lock.Enter(); lock.Leave(); });
        EXPECT_TRUE(other.StaysOut()) << "another thread entered a lock held two deep";
        lock.Leave();
        EXPECT_TRUE(other.StaysOut()) << "the lock was released before its second Leave";
        lock.Leave();
        EXPECT_TRUE(other.GetsThrough()) << "the lock stayed taken after the last Leave";
    }

    bthread_lock_t raw;
    ASSERT_TRUE(bthread_lock_init(&raw));
    EXPECT_TRUE(bthread_lock_trylock(&raw)) << "trylock failed on a free lock";
    EXPECT_TRUE(bthread_lock_trylock(&raw)) << "the holding thread must get its own lock";
    EXPECT_FALSE(std::async(std::launch::async, [&] { return bthread_lock_trylock(&raw); }).get())
        << "trylock from another thread succeeded while the lock was held";
    bthread_lock_deinit(&raw);            // gives up a lock its own thread still holds
}

TEST(LockedEvent, WaiterKeepsItsDepthWhileOthersEnterAndLeave)
{
    Tr::TLockedEvent event;
    bool go = false;                      // guarded by the event's lock
    std::atomic<int> step{0};
    Probe waiter([&] {
        event.Enter();
        event.Enter();
        event.Enter();
        step = 1;
        while (!go)
            event.Wait();
        event.Leave();
        event.Leave();
        step = 2;
        WaitUntil([&] { return step == 3; });
        event.Leave();
    });
    ASSERT_TRUE(WaitUntil([&] { return step == 1; }));
    // Entering succeeds only once the waiter's wait has released the lock; leaving must really
    // release it again, or the notifying thread and then the waiter could never get it.
    event.Enter();
    event.Enter();
    event.Leave();
    event.Leave();
    Probe([&] { event.Enter(); go = true; event.Notify(); event.Leave(); });
    ASSERT_TRUE(WaitUntil([&] { return step == 2; })) << "the waiter never got its lock back";
    {
        Probe prober([&] { event.Enter(); event.Leave(); });
        EXPECT_TRUE(prober.StaysOut()) << "the waiter came back from its wait with less than its depth of 3";
        step = 3;
        EXPECT_TRUE(prober.GetsThrough()) << "the waiter came back with more than its depth";
    }

    // A timed-out wait also comes back with the depth, and leaving that depth frees the lock.
    event.Enter();
    event.Enter();
    const auto start = std::chrono::steady_clock::now();
    event.WaitMs(100);
    EXPECT_GE(MillisSince(start), 90) << "a timed wait ended early";
    event.Leave();
    Probe second([&] { event.Enter(); event.Leave(); });
    EXPECT_TRUE(second.StaysOut()) << "a timed-out wait lost one level of the depth";
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

    // A writer waits for every reader, also when the first to enter leaves last; a new reader waits for the writer.
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
    step = 2;
    ASSERT_TRUE(otherReader.GetsThrough());
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(writing) << "a writer entered while the first reader was still in";
    lock.Leave(0);
    ASSERT_TRUE(WaitUntil([&] { return writing.load(); })) << "the writer stayed out after the last reader left";
    Probe reader([&] { lock.Enter(0); lock.Leave(0); });
    EXPECT_TRUE(reader.StaysOut()) << "a reader entered while a writer was in";
    step = 3;
    EXPECT_TRUE(reader.GetsThrough()) << "a reader missed the writer's leaving";
}

TEST(RWLock, MixedLoadKeepsExclusionAndNoReaderMissesTheWritersLeaving)
{
    Tr::TRWLock lock;
    std::atomic<int> readersIn{0}, writersIn{0}, faults{0};
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 random(1234u + t);
            for (int i = 0; i < 3000; ++i)
            {
                const unsigned char write = random() % 4 == 0;
                lock.Enter(write);
                std::atomic<int>& in = write ? writersIn : readersIn;
                ++in;
                std::this_thread::yield();
                if (writersIn != (write ? 1 : 0) || (write && readersIn != 0))
                    ++faults;
                --in;
                lock.Leave(write);
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(faults.load(), 0) << "readers and writers overlapped";

    // The reader tests for a writer just as the writer leaves; a notification lost between that test
    // and the wait would leave the reader waiting with nobody left to wake it.
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
        ASSERT_TRUE(bthread_create(RecordSelf, &seen, 0, "probe", &handle, prio, nullptr)) << "priority " << prio;
        EXPECT_EQ(bthread_join(&handle), 0);
        EXPECT_TRUE(pthread_equal(seen, handle.thread)) << "the handle does not name the thread it made";
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
