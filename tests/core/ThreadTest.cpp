#include "core/TrLock.h"
#include "core/TrThread.h"

#include "SanitizerSkips.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace
{

// Quick returns at once; Polite works until told to stop and is woken by Notify; Stubborn ignores
// every request to stop, so only cancelling ends it. Each listens for its own end.
class Worker : public Tr::TThread, public Tr::TThreadEndListener
{
public:
    enum Mode { Quick, Polite, Stubborn };
    explicit Worker(Mode mode, std::string name = "worker") : TThread(false, std::move(name)), FMode(mode)
    {
        FEndListener = this;
    }
    ~Worker() override { Kill(); }
    void Notify() override { FWake.Notify(); }
    void OnThreadEnd(Tr::TThread* thread) override
    {
        ended = thread;
        ++ends;
    }
    bool HasHandle() const { return FHandle.valid; }
    std::atomic<Tr::TThread*> ended{nullptr};
    std::atomic<int> runs{0}, ends{0};
    std::atomic<bool> finished{false}, left{false};

protected:
    void Execute() override
    {
        struct SetOnLeaving
        {
            std::atomic<bool>& flag;
            ~SetOnLeaving() { flag = true; }
        } guard{left};
        ++runs;
        while (FMode == Polite && !isTerminated())
            FWake.WaitMs(10000);
        while (FMode == Stubborn)
            std::this_thread::sleep_for(5ms);
        finished = true;
    }

private:
    Mode FMode;
    Tr::TEvent FWake;
};

// Frees itself when Execute returns, which it does only once told to stop and released.
std::atomic<int> g_selfFreedDeleted{0};
std::atomic<bool> g_selfFreedRelease{false};

class SelfFreeingThread : public Tr::TThread
{
public:
    SelfFreeingThread() : TThread(false, "self-freeing") { FFreeOnTerminate = 1; }
    ~SelfFreeingThread() override { ++g_selfFreedDeleted; }

protected:
    void Execute() override { WaitUntil([this] { return isTerminated() && g_selfFreedRelease; }); }
};

} // namespace

TEST(Thread, ShortWorkEndsIsReclaimedAndStartsAgainAndKillStopsAThreadThatListens)
{
    Worker thread(Worker::Quick);
    thread.Start();
    thread.waitFor();
    EXPECT_FALSE(thread.isActive());
    EXPECT_TRUE(thread.isTerminated());
    EXPECT_FALSE(thread.HasHandle()) << "an ended thread still holds its handle";
    EXPECT_EQ(thread.ends.load(), 1);
    EXPECT_EQ(thread.ended.load(), static_cast<Tr::TThread*>(&thread)) << "the end listener was told about another object";

    // Also with a priority the process may not be allowed to use.
    thread.SetPriority(prioHighest);
    thread.Start();
    thread.waitFor();
    EXPECT_EQ(thread.runs.load(), 2);
    EXPECT_EQ(thread.ends.load(), 2);

    // Kill stops a thread that listens without waiting for it.
    Worker polite(Worker::Polite);
    polite.Start();
    EXPECT_TRUE(polite.isActive());
    EXPECT_FALSE(polite.isTerminated());
    const auto start = Clock::now();
    polite.Kill();
    EXPECT_LT(MillisSince(start), 4000) << "Kill waited although the thread stopped when told";
    EXPECT_TRUE(polite.finished) << "Execute did not run to its end";
    EXPECT_FALSE(polite.isActive());
    EXPECT_TRUE(polite.isTerminated());
}

TEST(Thread, KillCancelsAThreadThatDoesNotStop)
{
    SKIP_THREAD_CANCEL_UNDER_ASAN();
    Worker thread(Worker::Stubborn, "odd%sname");
    thread.Start();
    ASSERT_TRUE(WaitUntil([&] { return thread.runs == 1; }));

    testing::internal::CaptureStderr();
    const auto start = Clock::now();
    thread.Kill();
    const auto took = MillisSince(start);
    const std::string errors = testing::internal::GetCapturedStderr();

    EXPECT_GE(took, 4900) << "Kill gave up before 5 seconds";
    EXPECT_LT(took, 15000);
    EXPECT_NE(errors.find("Quorva MIDI 2: ERROR: failed to kill thread odd%sname."), std::string::npos)
        << "stderr was: " << errors;
    EXPECT_TRUE(thread.left && !thread.finished) << "the thread was not cancelled";
    EXPECT_FALSE(thread.isActive());
}

TEST(Thread, SelfFreeingThreadIsNotWaitedFor)
{
    auto* thread = new SelfFreeingThread();
    thread->Start();
    thread->Kill();
    EXPECT_EQ(g_selfFreedDeleted.load(), 0) << "Kill waited for a thread that frees itself";
    g_selfFreedRelease = true;
    EXPECT_TRUE(WaitUntil([] { return g_selfFreedDeleted == 1; })) << "the object did not delete itself";
}
