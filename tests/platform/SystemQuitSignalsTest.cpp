#include "platform/SystemQuitSignals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

// Each case runs in a process of its own: what a process does with its signals is not undone.
// The message loop is not needed: a caught signal waits in the pipe, and the process lives on.
TEST(SystemQuitSignalsDeathTest, EachSignalIsCaughtOnceAndTheSameAgainEndsAndThePipeKeepsOffTheStandardDescriptors)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const int signal : {SIGTERM, SIGHUP}) {
        const int other = signal == SIGTERM ? SIGHUP : SIGTERM;
        EXPECT_EXIT(
            {
                std::signal(SIGTERM, SIG_DFL);
                std::signal(SIGHUP, SIG_DFL);
                if (!SystemQuitSignals::catchSignals())
                    _exit(2);
                raise(signal);
                // A session that ends sends both; the second is no reason to give up the quit.
                raise(other);
                // The same one again: someone insists, as on a program that hangs.
                raise(signal);
                _exit(0);
            },
            ::testing::KilledBySignal(signal), "")
            << strsignal(signal);
    }
    // Started with nohup: the ignored signal stays ignored, however often it comes.
    EXPECT_EXIT(
        {
            std::signal(SIGHUP, SIG_IGN);
            SystemQuitSignals::catchSignals();
            raise(SIGHUP);
            raise(SIGHUP);
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");

    // A program started with its standard descriptors closed: a pipe there would take whatever
    // is later written to "stdout" for a request to quit.
    EXPECT_EXIT(
        {
            for (int fd = 0; fd <= 2; ++fd)
                close(fd);
            if (!SystemQuitSignals::catchSignals())
                _exit(2);
            for (int fd = 0; fd <= 2; ++fd)
                if (fcntl(fd, F_GETFD) != -1)
                    _exit(10 + fd);
            raise(SIGTERM);
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
