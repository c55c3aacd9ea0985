#include "TrLock.h"

#include "TrException.h"

namespace Tr
{

TLock::TLock()
{
    if (!bthread_lock_init(&FLock))
        throw Exception("Cannot create a lock: the system refused a mutex.");
}

TLock::~TLock()
{
    bthread_lock_deinit(&FLock);
}

void TLock::Enter()
{
    bthread_lock_lock(&FLock);
}

void TLock::Leave()
{
    bthread_lock_unlock(&FLock);
}

TEvent::TEvent()
{
    if (!bthread_cond_init(&FCond))
        throw Exception("Cannot create an event: the system refused a mutex or a condition variable.");
}

TEvent::~TEvent()
{
    bthread_cond_deinit(&FCond);
}

void TEvent::Notify()
{
    bthread_cond_signal(&FCond);
}

void TEvent::Wait()
{
    bthread_cond_wait(&FCond, -1);
}

void TEvent::WaitMs(int ms)
{
    bthread_cond_wait(&FCond, ms);
}

TLockedEvent::TLockedEvent()
{
    if (!bthread_locked_cond_init(&FCond))
        throw Exception("Cannot create an event: the system refused a mutex or a condition variable.");
}

TLockedEvent::~TLockedEvent()
{
    bthread_locked_cond_deinit(&FCond);
}

void TLockedEvent::Enter()
{
    bthread_locked_cond_lock(&FCond);
}

void TLockedEvent::Leave()
{
    bthread_locked_cond_unlock(&FCond);
}

void TLockedEvent::Notify()
{
    bthread_locked_cond_signal(&FCond);
}

void TLockedEvent::Wait()
{
    bthread_locked_cond_wait(&FCond, -1);
}

void TLockedEvent::WaitMs(int ms)
{
    bthread_locked_cond_wait(&FCond, ms);
}

TRWLock::TRWLock() = default;

TRWLock::~TRWLock() = default;

void TRWLock::Enter(unsigned char write)
{
    FWriterDone.Enter();
    const pthread_t self = bthread_self();
    const bool selfWrites = FWriters > 0 && pthread_equal(FWriterThread, self);
    if (write)
    {
        while (!selfWrites && (FWriters > 0 || FReaders > 0))
            FWriterDone.Wait();
        ++FWriters;
        FWriterThread = self;
    }
    else
    {
        while (!selfWrites && FWriters > 0)
            FWriterDone.Wait();
        ++FReaders;
    }
    FWriterDone.Leave();
}

void TRWLock::Leave(unsigned char write)
{
    FWriterDone.Enter();
    if (write)
    {
        if (--FWriters <= 0)
        {
            FWriterThread = pthread_t{};
            FWriterDone.Notify();
        }
    }
    else if (--FReaders <= 0)
    {
        FWriterDone.Notify();
    }
    FWriterDone.Leave();
}

} // namespace Tr
