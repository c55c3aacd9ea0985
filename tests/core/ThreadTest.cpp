#include "core/TrLock.h"
#include "core/TrThread.h"

#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include "SanitizerSkips.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{

class EndCounter : public Tr::TThreadEndListener
{
public:
    void OnThreadEnd(Tr::TThread* thread) override
    {
        last = thread;
        ++calls;
    }
    std::atomic<Tr::TThread*> last{nullptr};
    std::atomic<int> calls{0};
};

class QuickThread : public Tr::TThread
{
public:
    explicit QuickThread(Tr::TThreadEndListener* listener) : TThread(false, "quick") { FEndListener = listener; }
    ~QuickThread() override { Kill(); }
    bool HasHandle() const { return FHandle.valid; }
    std::atomic<int> runs{0};

protected:
    void Execute() override { ++runs; }
};

// Works until told to stop, and is woken by Notify.
class PoliteThread : public Tr::TThread
{
public:
    PoliteThread() : TThread(false, "polite") {}
    ~PoliteThread() override { Kill(); }
    void Notify() override { FWake.Notify(); }
    std::atomic<bool> finished{false};

protected:
    void Execute() override
    {
        while (!isTerminated())
            FWake.WaitMs(10000);
        finished = true;
    }

private:
    Tr::TEvent FWake;
};

// Ignores every request to stop; only cancelling ends it.
class StubbornThread : public Tr::TThread
{
public:
    explicit StubbornThread(std::string name) : TThread(false, std::move(name)) {}
    ~StubbornThread() override { Kill(); }
    std::atomic<bool> started{false};
    std::atomic<bool> unwound{false};

protected:
    void Execute() override
    {
        struct SetOnUnwind
        {
            std::atomic<bool>& flag;
            ~SetOnUnwind() { flag = true; }
        } guard{unwound};
        started = true;
        for (;;)
            std::this_thread::sleep_for(5ms);
    }
};

std::atomic<int> g_selfFreedDeleted{0};

class SelfFreeingThread : public Tr::TThread
{
public:
    explicit SelfFreeingThread(std::atomic<bool>& release) : TThread(false, "self-freeing"), FRelease(release)
    {
        FFreeOnTerminate = 1;
    }
    ~SelfFreeingThread() override { ++g_selfFreedDeleted; }

protected:
    void Execute() override
    {
        WaitUntil([this] { return isTerminated() != 0; });
        WaitUntil([this] { return FRelease.load(); });
    }

private:
    std::atomic<bool>& FRelease;
};

} // namespace

TEST(Thread, ShortWorkEndsAndIsReclaimed)
{
    EndCounter ends;
    QuickThread thread(&ends);
    EXPECT_FALSE(thread.isActive());

    thread.Start();
    thread.waitFor();
    EXPECT_FALSE(thread.isActive());
    EXPECT_TRUE(thread.isTerminated());
    EXPECT_FALSE(thread.HasHandle()) << "an ended thread still holds its handle";
    EXPECT_EQ(ends.calls.load(), 1);
    EXPECT_EQ(ends.last.load(), static_cast<Tr::TThread*>(&thread)) << "the end listener was told about another object";

    // An ended object starts again, also with a priority the process may not be allowed to use.
    thread.SetPriority(prioHighest);
    thread.Start();
    thread.waitFor();
    EXPECT_EQ(thread.runs.load(), 2);
    EXPECT_EQ(ends.calls.load(), 2);
    EXPECT_FALSE(thread.HasHandle());
}

TEST(Thread, KillStopsAThreadThatListens)
{
    PoliteThread thread;
    thread.Start();
    EXPECT_TRUE(thread.isActive());
    EXPECT_FALSE(thread.isTerminated());

    const auto start = Clock::now();
    thread.Kill();
    EXPECT_LT(MillisSince(start), 4000) << "Kill waited although the thread stopped when told";
    EXPECT_TRUE(thread.finished) << "Execute did not run to its end";
    EXPECT_FALSE(thread.isActive());
    EXPECT_TRUE(thread.isTerminated());
}

TEST(Thread, KillCancelsAThreadThatDoesNotStop)
{
    SKIP_THREAD_CANCEL_UNDER_ASAN();
    StubbornThread thread("odd%sname");
    thread.Start();
    ASSERT_TRUE(WaitUntil([&] { return thread.started.load(); }));

    testing::internal::CaptureStderr();
    const auto start = Clock::now();
    thread.Kill();
    const auto took = MillisSince(start);
    const std::string errors = testing::internal::GetCapturedStderr();

    EXPECT_GE(took, 4900) << "Kill gave up before 5 seconds";
    EXPECT_LT(took, 15000);
    EXPECT_NE(errors.find("Quorva MIDI 2: ERROR: failed to kill thread odd%sname."), std::string::npos)
        << "stderr was: " << errors;
    EXPECT_TRUE(thread.unwound) << "the thread was not cancelled";
    EXPECT_FALSE(thread.isActive());
}

TEST(Thread, SelfFreeingThreadIsNotWaitedFor)
{
    g_selfFreedDeleted = 0;
    std::atomic<bool> release{false};
    auto* thread = new SelfFreeingThread(release);
    thread->Start();

    // Kill must return while Execute still runs: the thread holds on until released below.
    thread->Kill();
    EXPECT_EQ(g_selfFreedDeleted.load(), 0);
    release = true;
    EXPECT_TRUE(WaitUntil([] { return g_selfFreedDeleted == 1; })) << "the object did not delete itself";
}
