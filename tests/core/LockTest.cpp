#include "core/TrLock.h"

#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <random>
#include <thread>
#include <vector>
#include "SanitizerSkips.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{
// Starts a thread that enters `lock`, raises `entered` and leaves again.
template <typename Lock>
std::thread EnterAndLeave(Lock& lock, std::atomic<bool>& entered)
{
    return std::thread([&lock, &entered] {
        lock.Enter();
        entered = true;
        lock.Leave();
    });
}
}

TEST(Lock, RecursiveHoldBlocksOtherThreadsUntilFullyLeft)
{
    Tr::TLock lock;
    lock.Enter();
    lock.Enter();
    lock.Enter();

    std::atomic<bool> entered{false};
    std::thread other = EnterAndLeave(lock, entered);

    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(entered) << "another thread entered a lock held three deep";
    lock.Leave();
    lock.Leave();
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(entered) << "the lock was released before its third Leave";
    lock.Leave();
    EXPECT_TRUE(WaitUntil([&] { return entered.load(); })) << "the lock stayed taken after the last Leave";
    other.join();

    // Nested entries from several threads still exclude each other.
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
    EXPECT_EQ(counter, 4 * 5000);
}

TEST(Lock, TrylockDeepensForHolderAndFailsForOthers)
{
    bthread_lock_t lock;
    ASSERT_TRUE(bthread_lock_init(&lock));
    bthread_lock_lock(&lock);
    EXPECT_TRUE(bthread_lock_trylock(&lock)) << "the holding thread must get its own lock";
    EXPECT_EQ(lock.count.load(), 2);

    bool otherGot = true;
    std::thread([&] { otherGot = bthread_lock_trylock(&lock); }).join();
    EXPECT_FALSE(otherGot) << "trylock from another thread succeeded while the lock was held";

    bthread_lock_unlock(&lock);
    bthread_lock_unlock(&lock);
    std::thread([&] {
        otherGot = bthread_lock_trylock(&lock);
        if (otherGot)
            bthread_lock_unlock(&lock);
    }).join();
    EXPECT_TRUE(otherGot) << "trylock failed on a free lock";

    // Destroying a lock its own thread still holds gives it up first.
    bthread_lock_lock(&lock);
    bthread_lock_lock(&lock);
    bthread_lock_deinit(&lock);
}

TEST(Event, WaitsEndOnNotificationOrTimeOut)
{
    Tr::TEvent event;

    auto start = Clock::now();
    event.WaitMs(1500);
    const auto waited = MillisSince(start);
    EXPECT_GE(waited, 1450) << "WaitMs(1500) returned early without a notification";
    EXPECT_LT(waited, 10000);

    // A notification while nobody waits is lost.
    event.Notify();
    start = Clock::now();
    event.WaitMs(300);
    EXPECT_GE(MillisSince(start), 280) << "a notification given before the wait ended it";

    // Zero, negative and no time limit all wait until notified.
    for (int ms : {0, -5, -1})
    {
        std::atomic<bool> returned{false};
        std::thread waiter([&] {
            if (ms == -1)
                event.Wait();
            else
                event.WaitMs(ms);
            returned = true;
        });
        std::this_thread::sleep_for(200ms);
        EXPECT_FALSE(returned) << "WaitMs(" << ms << ") returned without a notification";
        EXPECT_TRUE(WaitUntil([&] {
            event.Notify();
            return returned.load();
        })) << "WaitMs(" << ms << ") did not return on notification";
        waiter.join();
    }

    // One notification wakes every waiter.
    std::atomic<int> waiting{0};
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            ++waiting;
            event.Wait();
            ++woken;
        });
    ASSERT_TRUE(WaitUntil([&] { return waiting == 3; }));
    std::this_thread::sleep_for(200ms);
    event.Notify();
    EXPECT_TRUE(WaitUntil([&] { return woken == 3; }, 5s)) << "a notification woke only " << woken << " of 3 waiters";
    while (woken < 3)
    {
        event.Notify();
        std::this_thread::sleep_for(1ms);
    }
    for (auto& w : waiters)
        w.join();
}

TEST(LockedEvent, WaiterKeepsItsDepthWhileOthersEnterAndLeave)
{
    Tr::TLockedEvent event;
    bool go = false;                      // guarded by the event's lock
    std::atomic<bool> ready{false}, woke{false}, leftTwo{false}, releaseLast{false};

    std::thread waiter([&] {
        event.Enter();
        event.Enter();
        event.Enter();
        ready = true;
        while (!go)
            event.Wait();
        woke = true;
        event.Leave();
        event.Leave();
        leftTwo = true;
        WaitUntil([&] { return releaseLast.load(); });
        event.Leave();
    });

    ASSERT_TRUE(WaitUntil([&] { return ready.load(); }));
    // Entering succeeds only once the waiter's wait has released the mutex; leaving must really
    // release it again, or the notifying thread and then the waiter could never get it.
    event.Enter();
    event.Enter();
    event.Leave();
    event.Leave();
    std::thread notifier([&] {
        event.Enter();
        go = true;
        event.Notify();
        event.Leave();
    });
    notifier.join();
    ASSERT_TRUE(WaitUntil([&] { return woke.load(); })) << "the waiter never got its lock back";
    ASSERT_TRUE(WaitUntil([&] { return leftTwo.load(); }));

    std::atomic<bool> probed{false};
    std::thread prober = EnterAndLeave(event, probed);
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(probed) << "the waiter came back from its wait with less than its depth of 3";
    releaseLast = true;
    waiter.join();
    EXPECT_TRUE(WaitUntil([&] { return probed.load(); })) << "the waiter came back with more than its depth";
    prober.join();

    // A timed-out wait also comes back with the depth, and leaving that depth frees the lock.
    event.Enter();
    event.Enter();
    const auto start = Clock::now();
    event.WaitMs(200);
    EXPECT_GE(MillisSince(start), 180);
    event.Leave();
    probed = false;
    std::thread second = EnterAndLeave(event, probed);
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(probed) << "a timed-out wait lost one level of the depth";
    event.Leave();
    second.join();
    EXPECT_TRUE(probed);
}

TEST(RWLock, ReadersShareWritersExclude)
{
    Tr::TRWLock lock;

    // The first reader need not be the last: readers may leave in any order.
    std::atomic<int> step{0};
    std::thread first([&] {
        lock.Enter(0);
        step = 1;
        WaitUntil([&] { return step == 2; });
        lock.Leave(0);
        step = 3;
    });
    std::thread last([&] {
        WaitUntil([&] { return step == 1; });
        lock.Enter(0);
        step = 2;
        WaitUntil([&] { return step == 3; });
        lock.Leave(0);
        step = 4;
    });
    EXPECT_TRUE(WaitUntil([&] { return step == 4; })) << "a second reader could not join the first";
    first.join();
    last.join();

    // A writer waits for the reader; a new reader waits for the writer.
    std::atomic<bool> writing{false}, reading{false};
    lock.Enter(0);
    std::thread writer([&] {
        lock.Enter(1);
        writing = true;
        lock.Enter(0);              // the writing thread may also read, and write again
        lock.Enter(1);
        lock.Leave(1);
        lock.Leave(0);
        WaitUntil([&] { return step == 5; });
        lock.Leave(1);
    });
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(writing) << "a writer entered while a reader was in";
    lock.Leave(0);
    ASSERT_TRUE(WaitUntil([&] { return writing.load(); })) << "the writer stayed out after the last reader left";
    std::thread reader([&] {
        lock.Enter(0);
        reading = true;
        lock.Leave(0);
    });
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(reading) << "a reader entered while a writer was in";
    step = 5;
    EXPECT_TRUE(WaitUntil([&] { return reading.load(); })) << "a reader missed the writer's leaving";
    writer.join();
    reader.join();
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
                if (random() % 4 == 0)
                {
                    lock.Enter(1);
                    if (++writersIn != 1 || readersIn != 0)
                        ++faults;
                    ++a;
                    std::this_thread::yield();
                    ++b;
                    --writersIn;
                    lock.Leave(1);
                }
                else
                {
                    lock.Enter(0);
                    ++readersIn;
                    std::this_thread::yield();
                    if (writersIn != 0 || a != b)
                        ++faults;
                    --readersIn;
                    lock.Leave(0);
                }
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(faults.load(), 0) << "readers and writers overlapped";
    EXPECT_EQ(a, b);
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
        std::atomic<bool> in{false};
        std::thread reader([&] {
            lock.Enter(0);
            in = true;
            lock.Leave(0);
        });
        for (unsigned spin = random() % 64; spin > 0; --spin)
            std::this_thread::yield();
        lock.Leave(1);
        const bool entered = WaitUntil([&] { return in.load(); }, 5s);
        if (!entered)
        {
            lock.Enter(1);          // a second leaving wakes the stranded reader, so the test can end
            lock.Leave(1);
        }
        reader.join();
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

struct Spinner
{
    std::atomic<bool> started{false};
    std::atomic<bool> unwound{false};
};

void* SpinUntilCancelled(void* arg)
{
    auto* spinner = static_cast<Spinner*>(arg);
    struct SetOnUnwind
    {
        std::atomic<bool>& flag;
        ~SetOnUnwind() { flag = true; }
    } guard{spinner->unwound};
    spinner->started = true;
    for (;;)
        std::this_thread::sleep_for(1ms);
}
}

TEST(BThread, CreateKeepsTheWholeHandleAndCancelNeverReusesIt)
{
    SKIP_THREAD_CANCEL_UNDER_ASAN();
    EXPECT_EQ(bthread_sched_priority(prioHighest), 47);
    EXPECT_EQ(bthread_sched_priority(prioLowest), 15);
    EXPECT_EQ(bthread_sched_priority(static_cast<TThreadPrio>(9)), 31);

    for (TThreadPrio prio : {prioDefault, prioHighest, static_cast<TThreadPrio>(9)})
    {
        pthread_t seen{};
        bthread_handle_t handle;
        unsigned id = 12345;
        ASSERT_TRUE(bthread_create(RecordSelf, &seen, 0, "probe", &handle, prio, &id)) << "priority " << prio;
        EXPECT_TRUE(handle.valid);
        EXPECT_EQ(id, prio == prioDefault ? 12345u : 0u) << "priority " << prio;
        EXPECT_EQ(bthread_join(&handle), 0);
        EXPECT_TRUE(pthread_equal(seen, handle.thread)) << "the handle does not name the thread it made";
        EXPECT_FALSE(handle.valid);
        EXPECT_EQ(bthread_cancel(&handle), ESRCH) << "a reclaimed handle must not cancel anything";
    }

    Spinner spinner;
    bthread_handle_t handle;
    ASSERT_TRUE(bthread_create(SpinUntilCancelled, &spinner, 0, "spinner", &handle, prioDefault, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return spinner.started.load(); }));
    EXPECT_EQ(bthread_cancel(&handle), 0);
    EXPECT_TRUE(spinner.unwound) << "the cancelled thread had not ended when cancel returned";
    EXPECT_FALSE(handle.valid);
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
