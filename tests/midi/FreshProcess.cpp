#include "FreshProcess.h"

#include "core/TrAutoDelete.h"
#include "midi/MidiAlias.h"
#include "midi/MidiManager.h"
#include "midi/MidiRouter.h"

#include <gtest/gtest.h>

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
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        ADD_FAILURE() << "the test's fresh process died of signal " << WTERMSIG(status) << "; its output above tells why";
    else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        ADD_FAILURE() << "the test's fresh process failed; its failures are printed above";
}
