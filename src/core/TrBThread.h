#pragma once

// A thin layer over POSIX threads: plain records with plain functions, on which the lock and event
// classes of TrLock.h are built. Every function takes a pointer to its record; the init functions
// return true on success, bthread_lock_trylock and bthread_create a success flag, the others 0.

#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <string>

// Recursive lock. `owner` is read without the mutex: only the holding thread can ever find its own
// identity there, which makes the recursion test safe.
struct bthread_lock_t
{
    pthread_mutex_t mutex;
    std::atomic<int> count{0};         // recursion depth
    std::atomic<pthread_t> owner{};    // the holding thread, 0 when free
};

// Event: every waiter wakes on a signal; a signal given while nobody waits is lost.
// `generation` counts the signals, so that a waiter tells a signal from a spurious wake-up.
struct bthread_cond_t
{
    pthread_cond_t cond;
    bthread_lock_t lock;               // only its mutex is used
    unsigned long generation = 0;      // guarded by lock.mutex
};

// Event whose lock the caller holds around signal and wait.
struct bthread_locked_cond_t
{
    bthread_lock_t lock;
    pthread_cond_t cond;
    unsigned long generation = 0;      // guarded by lock
};

// Names one thread made by bthread_create. It holds the whole pthread_t, and bthread_join,
// bthread_detach and bthread_cancel clear it, so that it can never name another thread later.
struct bthread_handle_t
{
    pthread_t thread{};
    bool valid = false;
};

enum TThreadPrio : int
{
    prioDefault = 0,
    prioHigh = 1,
    prioHighest = 2,
    prioLow = 3,
    prioLowest = 4
};

using bthread_start_t = void* (*)(void*);

extern const char* const sched_type[3];

bool bthread_lock_init(bthread_lock_t* lock);
int bthread_lock_lock(bthread_lock_t* lock);
bool bthread_lock_trylock(bthread_lock_t* lock);
int bthread_lock_unlock(bthread_lock_t* lock);
// Releases the lock when the calling thread holds it (at any depth), then destroys the mutex.
int bthread_lock_deinit(bthread_lock_t* lock);

bool bthread_cond_init(bthread_cond_t* cond);
int bthread_cond_signal(bthread_cond_t* cond);
// ms below 1 waits without a time limit. Returns after a signal or the time-out alike.
int bthread_cond_wait(bthread_cond_t* cond, int ms);
int bthread_cond_deinit(bthread_cond_t* cond);

bool bthread_locked_cond_init(bthread_locked_cond_t* cond);
int bthread_locked_cond_lock(bthread_locked_cond_t* cond);
int bthread_locked_cond_unlock(bthread_locked_cond_t* cond);
// The caller holds the lock.
int bthread_locked_cond_signal(bthread_locked_cond_t* cond);
// The caller holds the lock, at any depth; the lock is really released during the wait and taken
// back with the caller's depth. ms below 1 waits without a time limit.
int bthread_locked_cond_wait(bthread_locked_cond_t* cond, int ms);
int bthread_locked_cond_deinit(bthread_locked_cond_t* cond);

// The sched_priority asked for with `prio`.
int bthread_sched_priority(TThreadPrio prio);

// Starts start(arg) on a new, joinable thread. *handle (when given) is written before start runs;
// *id (when given) receives 0 unless prio is prioDefault. stackSize and name are not used. A priority
// that cannot be applied falls back to default attributes. Returns false when no thread was created.
bool bthread_create(bthread_start_t start, void* arg, int stackSize, const std::string& name,
                    bthread_handle_t* handle, TThreadPrio prio, unsigned* id);
// Waits for the thread to end and clears the handle; ESRCH when the handle names no thread.
int bthread_join(bthread_handle_t* handle);
// Lets the thread free itself when it ends and clears the handle.
int bthread_detach(bthread_handle_t* handle);
// Cancels the thread, gives it a second to unwind, then joins or detaches it, and clears the handle.
// Returns pthread_cancel's result; ESRCH when the handle names no thread.
int bthread_cancel(bthread_handle_t* handle);
pthread_t bthread_self();
// pthread_getschedparam's error code for the thread.
int pthread_info(pthread_t thread);
// n up to 1000: sleeps n microseconds; above 1000: sleeps n / 1000 whole seconds.
int bsleep(int n);

namespace Tr
{
extern FILE* g_debugStream;
void setDebugStream(FILE* stream);
}
