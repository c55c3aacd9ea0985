// Starts the program itself.
#include "core/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

const char* const kProgram = QUORVA_BINARY_DIR "/src/QuorvaMidi2";

// The program's single-instance lock, which the toolkit keeps in /var/tmp (or /tmp).
std::string lockFile()
{
    const char* folder = access("/var/tmp", W_OK) == 0 ? "/var/tmp" : "/tmp";
    return std::string(folder) + "/juceAppLock_Quorva MIDI 2";
}

// The process holding the lock, or 0; looks without taking it.
pid_t lockHolder()
{
    const int fd = open(lockFile().c_str(), O_RDWR);
    if (fd < 0)
        return 0;
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    const bool asked = fcntl(fd, F_GETLK, &fl) == 0;
    close(fd);
    return asked && fl.l_type != F_UNLCK ? fl.l_pid : 0;
}

// Starts the program with the given environment changes ("NAME=value"), its output discarded.
pid_t startProgram(const std::vector<std::string>& changes)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& c : changes)
            replaced = replaced || entry.compare(0, c.find('=') + 1, c, 0, c.find('=') + 1) == 0;
        if (!replaced)
            env.push_back(entry);
    }
    env.insert(env.end(), changes.begin(), changes.end());
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string program = kProgram;
    char* argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, kProgram, &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Waits up to ms for the process to end; its exit status, or -1 when it still runs.
int waitForExit(pid_t pid, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (std::chrono::steady_clock::now() > end)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

TEST(Program, WithoutADisplayItSaysSoAndEnds)
{
    const std::string command = std::string("DISPLAY=:54321 '") + kProgram + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    const int status = pclose(pipe);

    ASSERT_TRUE(WIFEXITED(status)) << "the program must end by itself, not by a signal";
    EXPECT_NE(WEXITSTATUS(status), 0);
    EXPECT_NE(output.find("no display"), std::string::npos) << output;
    EXPECT_NE(output.find(":54321"), std::string::npos) << "names the display it tried: " << output;
}

TEST(Program, ASecondInstanceEndsAtOnce)
{
    if (!getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X display (the test scripts run the tests under xvfb-run)";
    if (lockHolder() != 0)
        GTEST_SKIP() << "the program is running already";
    TempFolder home;

    const pid_t first = startProgram({"HOME=" + home.path()});
    ASSERT_GT(first, 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (lockHolder() != first && std::chrono::steady_clock::now() < until && waitForExit(first, 0) == -1)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (lockHolder() != first) {
        kill(first, SIGKILL);
        waitForExit(first, 10000);
        FAIL() << "the first instance never took the single-instance lock";
    }

    const pid_t second = startProgram({"HOME=" + home.path()});
    ASSERT_GT(second, 0);
    const int secondStatus = waitForExit(second, 30000);
    const int firstStatus = waitForExit(first, 0);
    kill(first, SIGKILL);
    waitForExit(first, 10000);
    if (secondStatus == -1) {
        kill(second, SIGKILL);
        waitForExit(second, 10000);
    }
    EXPECT_EQ(secondStatus, 0) << "the second instance ends by itself, without an error";
    EXPECT_EQ(firstStatus, -1) << "the first instance goes on";
}
