#include "TrBThread.h"

#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <mutex>

const char* const sched_type[3] = {"SCHED_OTHER", "SCHED_FIFO", "SCHED_RR"};

namespace Tr
{
FILE* g_debugStream = nullptr;

void setDebugStream(FILE* stream)
{
    g_debugStream = stream;
}
}

namespace
{

timespec DeadlineAfter(int ms)
{
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L)
    {
        ++deadline.tv_sec;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

// Waits until `generation` moves on or the time runs out; the caller holds `mutex`. Looping on the
// generation keeps spurious wake-ups from ending a wait early.
void WaitForSignal(pthread_cond_t* cond, pthread_mutex_t* mutex, const unsigned long* generation, int ms)
{
    const unsigned long seen = *generation;
    if (ms < 1)
    {
        while (*generation == seen)
            pthread_cond_wait(cond, mutex);
        return;
    }
    const timespec deadline = DeadlineAfter(ms);
    while (*generation == seen)
        if (pthread_cond_timedwait(cond, mutex, &deadline) == ETIMEDOUT)
            return;
}

// Unlocks on every way out, including a cancellation that unwinds out of a wait.
class MutexHold
{
public:
    explicit MutexHold(pthread_mutex_t* mutex) : FMutex(mutex) { pthread_mutex_lock(FMutex); }
    ~MutexHold() { pthread_mutex_unlock(FMutex); }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

private:
    pthread_mutex_t* FMutex;
};

// Event conditions run on the monotonic clock so that a change of the wall clock cannot stretch
// or cut a timed wait.
bool InitMonotonicCond(pthread_cond_t* cond)
{
    pthread_condattr_t attr;
    if (pthread_condattr_init(&attr) != 0)
        return false;
    const bool ok = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC) == 0 && pthread_cond_init(cond, &attr) == 0;
    pthread_condattr_destroy(&attr);
    return ok;
}

// Holds the new thread back until bthread_create has written the handle, so that the thread's
// work (which may clear or read the handle) always comes after that write.
struct StartGate
{
    bthread_start_t start;
    void* arg;
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
};

void* StartBehindGate(void* p)
{
    auto* gate = static_cast<StartGate*>(p);
    {
        std::unique_lock<std::mutex> hold(gate->mutex);
        gate->opened.wait(hold, [gate] { return gate->open; });
    }
    const bthread_start_t start = gate->start;
    void* const arg = gate->arg;
    delete gate;
    return start(arg);
}

class ThreadAttr
{
public:
    ThreadAttr() : FValid(pthread_attr_init(&FAttr) == 0) {}
    ~ThreadAttr()
    {
        if (FValid)
            pthread_attr_destroy(&FAttr);
    }
    ThreadAttr(const ThreadAttr&) = delete;
    ThreadAttr& operator=(const ThreadAttr&) = delete;

    bool SetPriority(int priority)
    {
        if (!FValid)
            return false;
        sched_param param{};
        if (pthread_attr_getschedparam(&FAttr, &param) != 0)
            return false;
        param.sched_priority = priority;
        return pthread_attr_setschedparam(&FAttr, &param) == 0;
    }
    pthread_attr_t* Get() { return &FAttr; }

private:
    pthread_attr_t FAttr;
    bool FValid;
};

// The two event records differ only in field order; both make and free their parts alike.
bool InitLockAndCond(bthread_lock_t* lock, pthread_cond_t* cond)
{
    if (!bthread_lock_init(lock))
        return false;
    if (!InitMonotonicCond(cond))
    {
        pthread_mutex_destroy(&lock->mutex);
        return false;
    }
    return true;
}

void DeinitLockAndCond(bthread_lock_t* lock, pthread_cond_t* cond)
{
    bthread_lock_deinit(lock);
    pthread_cond_destroy(cond);
}

} // namespace

bool bthread_lock_init(bthread_lock_t* lock)
{
    lock->count = 0;
    lock->owner = pthread_t{};
    return pthread_mutex_init(&lock->mutex, nullptr) == 0;
}

int bthread_lock_lock(bthread_lock_t* lock)
{
    const pthread_t self = pthread_self();
    if (!pthread_equal(lock->owner.load(), self))
    {
        pthread_mutex_lock(&lock->mutex);
        lock->owner = self;
    }
    ++lock->count;
    return 0;
}

bool bthread_lock_trylock(bthread_lock_t* lock)
{
    const pthread_t self = pthread_self();
    if (!pthread_equal(lock->owner.load(), self))
    {
        if (pthread_mutex_trylock(&lock->mutex) != 0)
            return false;
        lock->owner = self;
    }
    ++lock->count;
    return true;
}

int bthread_lock_unlock(bthread_lock_t* lock)
{
    if (lock->count.fetch_sub(1) == 1)
    {
        lock->owner = pthread_t{};
        pthread_mutex_unlock(&lock->mutex);
    }
    return 0;
}

int bthread_lock_deinit(bthread_lock_t* lock)
{
    // A mutex must not be destroyed while locked, so the holder's whole depth is given up here.
    if (lock->count > 0 && pthread_equal(lock->owner.load(), pthread_self()))
    {
        lock->count = 0;
        lock->owner = pthread_t{};
        pthread_mutex_unlock(&lock->mutex);
    }
    pthread_mutex_destroy(&lock->mutex);
    return 0;
}

bool bthread_cond_init(bthread_cond_t* cond)
{
    cond->generation = 0;
    return InitLockAndCond(&cond->lock, &cond->cond);
}

int bthread_cond_signal(bthread_cond_t* cond)
{
    MutexHold hold(&cond->lock.mutex);
    ++cond->generation;
    pthread_cond_broadcast(&cond->cond);
    return 0;
}

int bthread_cond_wait(bthread_cond_t* cond, int ms)
{
    MutexHold hold(&cond->lock.mutex);
    WaitForSignal(&cond->cond, &cond->lock.mutex, &cond->generation, ms);
    return 0;
}

int bthread_cond_deinit(bthread_cond_t* cond)
{
    DeinitLockAndCond(&cond->lock, &cond->cond);
    return 0;
}

bool bthread_locked_cond_init(bthread_locked_cond_t* cond)
{
    cond->generation = 0;
    return InitLockAndCond(&cond->lock, &cond->cond);
}

int bthread_locked_cond_lock(bthread_locked_cond_t* cond)
{
    return bthread_lock_lock(&cond->lock);
}

int bthread_locked_cond_unlock(bthread_locked_cond_t* cond)
{
    return bthread_lock_unlock(&cond->lock);
}

int bthread_locked_cond_signal(bthread_locked_cond_t* cond)
{
    ++cond->generation;
    pthread_cond_broadcast(&cond->cond);
    return 0;
}

int bthread_locked_cond_wait(bthread_locked_cond_t* cond, int ms)
{
    bthread_lock_t& lock = cond->lock;
    const pthread_t self = pthread_self();
    if (lock.count <= 0 || !pthread_equal(lock.owner.load(), self))
        return EPERM;

    // The wait releases the mutex once, whatever the depth. The lock must look free meanwhile, so
    // that a thread entering and leaving during the wait takes and really releases the mutex; the
    // waiter's depth is parked here and put back once the wait holds the mutex again.
    struct ParkedHold
    {
        bthread_lock_t& lock;
        pthread_t owner;
        int depth;
        ~ParkedHold()
        {
            lock.owner = owner;
            lock.count = depth;
        }
    } parked{lock, self, lock.count.exchange(0)};
    lock.owner = pthread_t{};

    WaitForSignal(&cond->cond, &lock.mutex, &cond->generation, ms);
    return 0;
}

int bthread_locked_cond_deinit(bthread_locked_cond_t* cond)
{
    DeinitLockAndCond(&cond->lock, &cond->cond);
    return 0;
}

int bthread_sched_priority(TThreadPrio prio)
{
    switch (prio)
    {
    case prioHigh:
        return 39;
    case prioHighest:
        return 47;
    case prioLow:
        return 23;
    case prioLowest:
        return 15;
    case prioDefault:
    default:
        return 31;
    }
}

bool bthread_create(bthread_start_t start, void* arg, int /*stackSize*/, const std::string& /*name*/,
                    bthread_handle_t* handle, TThreadPrio prio, unsigned* id)
{
    auto* gate = new StartGate{start, arg, {}, {}, false};
    pthread_t thread{};
    int result;
    if (prio == prioDefault)
    {
        result = pthread_create(&thread, nullptr, StartBehindGate, gate);
    }
    else
    {
        ThreadAttr attr;
        const bool applied = attr.SetPriority(bthread_sched_priority(prio));
        result = pthread_create(&thread, applied ? attr.Get() : nullptr, StartBehindGate, gate);
    }
    if (result != 0)
    {
        delete gate;
        return false;
    }

    if (handle)
    {
        handle->thread = thread;
        handle->valid = true;
    }
    if (id && prio != prioDefault)
        *id = 0;

    {
        std::lock_guard<std::mutex> hold(gate->mutex);
        gate->open = true;
        gate->opened.notify_one();
    }
    return true;
}

int bthread_join(bthread_handle_t* handle)
{
    if (!handle->valid)
        return ESRCH;
    handle->valid = false;
    return pthread_join(handle->thread, nullptr);
}

int bthread_detach(bthread_handle_t* handle)
{
    if (!handle->valid)
        return ESRCH;
    handle->valid = false;
    return pthread_detach(handle->thread);
}

int bthread_cancel(bthread_handle_t* handle)
{
    if (!handle->valid)
        return ESRCH;
    const int result = pthread_cancel(handle->thread);
    // The thread ends at its next cancellation point. Waiting a little for it means its owner is
    // rarely still in use by it afterwards; a thread that never reaches such a point is let go.
    const timespec deadline = DeadlineAfter(1000);
    if (pthread_clockjoin_np(handle->thread, nullptr, CLOCK_MONOTONIC, &deadline) != 0)
        pthread_detach(handle->thread);
    handle->valid = false;
    return result;
}

pthread_t bthread_self()
{
    return pthread_self();
}

int pthread_info(pthread_t thread)
{
    int policy = 0;
    sched_param param{};
    return pthread_getschedparam(thread, &policy, &param);
}

int bsleep(int n)
{
    if (n <= 0)
        return 0;
    timespec rest{};
    if (n > 1000)
        rest.tv_sec = n / 1000;
    else
        rest.tv_nsec = static_cast<long>(n) * 1000L;
    while (nanosleep(&rest, &rest) == -1 && errno == EINTR)
    {
    }
    return 0;
}
