#include "FreshProcess.h"

#include "core/TrAutoDelete.h"
#include "midi/MidiAlias.h"
#include "midi/MidiManager.h"
#include "midi/MidiRouter.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace
{
[[noreturn]] void RunChild(const std::function<void()>& body)
{
    try
    {
        body();
        Tr::VuskSystem::shutdown();
#if defined(__SANITIZE_ADDRESS__)
        // The child leaves through _exit, past the sanitizer's own check at exit.
        if (__lsan_do_recoverable_leak_check() != 0)
            ADD_FAILURE() << "the test leaked memory; the sanitizer's report is above";
#endif
    }
    catch (const std::exception& e)
    {
        ADD_FAILURE() << "unexpected exception: " << e.what();
    }
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(testing::Test::HasFailure() ? 1 : 0);
}
} // namespace

void RunInFreshProcess(const std::function<void()>& body)
{
    ASSERT_FALSE(Tr::MidiManager::IsInstanceAllocated() || Tr::TMidiAliasManager::IsInstanceAllocated()
                 || Tr::TMidiRouter::IsInstanceAllocated())
        << "the test program made MIDI singletons outside RunInFreshProcess";
    ASSERT_FALSE(testing::Test::HasFailure()) << "the test failed before its fresh process started";
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0) << "fork failed";
    if (pid == 0)
        RunChild(body);
    // Well inside ctest's 300 s for a test, so that a body that hangs is named here.
    const int status = WaitForExit(pid, 240000);
    StopChild(pid);
    if (status == -1)
        ADD_FAILURE() << "the test's fresh process did not end within 240 s";
    else if (status > 128)
        ADD_FAILURE() << "the test's fresh process died of signal " << status - 128 << "; its output above tells why";
    else if (status != 0)
        ADD_FAILURE() << "the test's fresh process failed; its failures are printed above";
}

int WaitForExit(pid_t pid, int ms)
{
    for (int status = 0;; ms -= 20, usleep(20000))
    {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (ms <= 0)
            return -1;
    }
}

void StopChild(pid_t pid)
{
    if (waitpid(pid, nullptr, WNOHANG) == 0)
    {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}
