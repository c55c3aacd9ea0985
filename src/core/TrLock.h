#pragma once

#include "TrBThread.h"

namespace Tr
{

// Recursive lock: the holding thread may enter again; the lock is free once it has left as often as
// it entered. Each Leave must pair with an Enter of the same thread; that is not checked.
class TLock
{
public:
    TLock();
    virtual ~TLock();
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;

    void Enter();
    void Leave();

private:
    bthread_lock_t FLock;
};

// Event: Notify wakes every thread waiting at that moment; a notification given while nobody
// waits is lost. A wait returns after a notification or its time-out alike, so a caller that needs
// a condition tests it again.
class TEvent
{
public:
    TEvent();
    virtual ~TEvent();
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    void Notify();
    void Wait();
    void WaitMs(int ms);                  // ms below 1 waits without a time limit

private:
    bthread_cond_t FCond;
};

// Event guarded by its own recursive lock, which the caller holds around Notify and the waits:
// testing a condition and waiting for it are then one step, and no notification slips in between.
// A waiter may hold the lock at any depth; the wait releases it completely and takes it back with
// the same depth.
class TLockedEvent
{
public:
    TLockedEvent();
    virtual ~TLockedEvent();
    TLockedEvent(const TLockedEvent&) = delete;
    TLockedEvent& operator=(const TLockedEvent&) = delete;

    void Enter();
    void Leave();
    void Notify();
    void Wait();
    void WaitMs(int ms);                  // ms below 1 waits without a time limit

private:
    bthread_locked_cond_t FCond;
};

// Readers/writer lock: any number of readers, or one writing thread, which may enter again for
// writing or for reading. New readers wait only for a writer that holds the lock; a writer waits
// until no other writer and no reader is in. A reader must not enter for writing (it would wait
// for itself).
class TRWLock
{
public:
    TRWLock();
    virtual ~TRWLock();
    TRWLock(const TRWLock&) = delete;
    TRWLock& operator=(const TRWLock&) = delete;

    void Enter(unsigned char write);
    void Leave(unsigned char write);

private:
    // The counters change only under FWriterDone's lock, and every wait for them is on that event,
    // so a reader cannot test FWriters and then miss the last writer's notification.
    int FReaders = 0;
    int FWriters = 0;
    TLockedEvent FWriterDone;             // notified when the last writer or the last reader leaves
    pthread_t FWriterThread{};
};

} // namespace Tr
