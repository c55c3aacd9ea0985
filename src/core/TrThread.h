#pragma once

#include "TrBThread.h"

#include <atomic>
#include <string>

namespace Tr
{

class TThread;

// Told on the thread itself when a thread object's Execute() has returned.
class TThreadEndListener
{
public:
    virtual void OnThreadEnd(TThread* thread) = 0;

protected:
    ~TThreadEndListener() = default;
};

// A thread object: a subclass does its work in Execute(), watching isTerminated(), and wakes that
// work in Notify(). Start() runs Execute() on a new thread; Kill() tells the thread to stop, waits
// up to 5 seconds for it and cancels it when it does not stop.
//
// A subclass passes startNow = false and calls Start() once it is built: a thread started from this
// constructor would run while the subclass is still being constructed. Likewise a subclass whose
// Execute() uses its own members calls Kill() in its own destructor; this class's destructor comes
// too late for that, and reaches only this class's Notify().
//
// A subclass may set FFreeOnTerminate before Start(): the object then deletes itself when Execute()
// returns and belongs to its thread once started; only Terminate() and Kill() (which does not wait)
// may be used on it, and only while Execute() still runs.
class TThread
{
public:
    TThread(bool startNow, std::string name);
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Does nothing while a thread of this object still runs. A thread that cannot be created leaves
    // the object terminated; nothing is thrown.
    virtual void Start();
    virtual void Terminate();
    virtual void Kill();
    // Cancels the thread (it ends at its next cancellation point); returns the thread layer's result.
    virtual int Cancel();
    virtual void Notify();

    unsigned char isActive() const { return FActive; }
    unsigned char isTerminated() const { return FTerminated; }
    void SetPriority(TThreadPrio p) { FPriority = p; }   // takes effect at the next Start()
    // Waits until Execute() has returned, or reports on stderr after 5 seconds and returns.
    void waitFor();

    static void* run(void* arg);

protected:
    virtual void Execute();

    TThreadEndListener* FEndListener = nullptr;
    unsigned char FFreeOnTerminate = 0;
    std::atomic<unsigned char> FTerminated{0};
    std::atomic<unsigned char> FActive{0};           // set from Start() until Execute() has returned
    std::string FName;
    bthread_handle_t FHandle;                        // names no thread once the thread is reclaimed
    unsigned int FThreadId = 0;
    TThreadPrio FPriority = prioDefault;
    int FStackSize = 0;
};

} // namespace Tr
