#include "TrThread.h"

#include "TrFiles.h"
#include "TrUtil.h"

#include <chrono>
#include <cstdio>
#include <utility>

namespace Tr
{

namespace
{
// Measured on the monotonic clock: a change of the wall clock must not cut or stretch the wait.
constexpr auto kStopTimeout = std::chrono::milliseconds(5000);
}

TThread::TThread(bool startNow, std::string name) : FName(std::move(name))
{
    if (startNow)
        Start();
}

TThread::~TThread()
{
    FTerminated = 1;
    Notify();
    Kill();
}

void TThread::Start()
{
    if (FActive)
        return;
    // A thread that ended by itself is still to be reclaimed before the handle takes a new one.
    if (FHandle.valid)
        bthread_join(&FHandle);

    FTerminated = 0;
    // Active from here rather than from the thread's first step, so that a waitFor() right after
    // Start() cannot take a thread that has not begun yet for one that has ended.
    FActive = 1;
    if (bthread_create(run, this, FStackSize, FName, &FHandle, FPriority, &FThreadId))
    {
        // With FFreeOnTerminate the object may already be gone: nothing of it is touched from here.
        SleepMillis(2);
        return;
    }
    FActive = 0;
    FHandle = bthread_handle_t{};
    FTerminated = 1;
    FThreadId = 0;
}

void* TThread::run(void* arg)
{
    auto* thread = static_cast<TThread*>(arg);
    thread->FActive = 1;
    thread->Execute();

    thread->FTerminated = 1;
    thread->FActive = 0;
    if (thread->FEndListener)
        thread->FEndListener->OnThreadEnd(thread);
    if (thread->FFreeOnTerminate)
    {
        // Nobody waits for a thread that frees its own object, so it frees its own resources too.
        bthread_detach(&thread->FHandle);
        delete thread;
    }
    return nullptr;
}

void TThread::Terminate()
{
    FTerminated = 1;
    Notify();
}

int TThread::Cancel()
{
    const int result = bthread_cancel(&FHandle);
    FActive = 0;
    FThreadId = 0;
    return result;
}

void TThread::Kill()
{
    const unsigned char freeOnTerminate = FFreeOnTerminate;
    Terminate();
    if (freeOnTerminate)
        return;
    waitFor();
    if (FActive)
        Cancel();
}

void TThread::waitFor()
{
    const auto start = std::chrono::steady_clock::now();
    while (FActive)
    {
        if (std::chrono::steady_clock::now() - start > kStopTimeout)
        {
            const std::string message = UString::FormatS2("%s: ERROR: failed to kill thread %s.", "Quorva MIDI 2", FName);
            std::fprintf(stderr, "%s\n", message.c_str());
            return;
        }
        SleepMillis(1);
    }
    // Execute() has returned; joining waits only for the end listener, and reclaims the thread.
    if (FHandle.valid)
        bthread_join(&FHandle);
    FThreadId = 0;
}

void TThread::Notify()
{
}

void TThread::Execute()
{
}

} // namespace Tr
