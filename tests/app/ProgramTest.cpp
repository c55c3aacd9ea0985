// Starts the program itself.
#include "core/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char* const kProgram = QUORVA_BINARY_DIR "/src/QuorvaMidi2";

// The process holding the program's single-instance lock (which the toolkit keeps in /var/tmp or
// /tmp), or 0; looks without taking it.
pid_t lockHolder()
{
    const std::string folder = access("/var/tmp", W_OK) == 0 ? "/var/tmp" : "/tmp";
    const int fd = open((folder + "/juceAppLock_Quorva MIDI 2").c_str(), O_RDWR);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    const bool asked = fd >= 0 && fcntl(fd, F_GETLK, &fl) == 0;
    if (fd >= 0)
        close(fd);
    return asked && fl.l_type != F_UNLCK ? fl.l_pid : 0;
}

// Starts the program with its HOME there and its output discarded.
pid_t startProgram(const std::string& home)
{
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("HOME", home.c_str(), 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl(kProgram, kProgram, (char*)nullptr);
        _exit(127);
    }
    return pid;
}

// Waits up to ms (in 20 ms steps) for the process to end: its exit status, or -1 while it runs.
int waitForExit(pid_t pid, int ms)
{
    for (int status = 0;; ms -= 20, usleep(20000)) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (ms <= 0)
            return -1;
    }
}

// Ends the process unless it has ended (and was waited for) already.
void stop(pid_t pid)
{
    if (waitForExit(pid, 0) == -1) {
        kill(pid, SIGKILL);
        waitForExit(pid, 10000);
    }
}

} // namespace

TEST(Program, WithoutADisplayItSaysSoAndEnds)
{
    FILE* pipe = popen((std::string("DISPLAY=:54321 '") + kProgram + "' 2>&1").c_str(), "r");
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

TEST(Program, APipeAsLanguageIniIsNotWaitedForBeforeMain)
{
    // The translations are read while the globals are built, before main: without a display the
    // program must still get as far as saying so.
    TempFolder dir;
    const std::string language = dir / "Language.ini", output = dir / "output.txt";
    ASSERT_EQ(mkfifo(language.c_str(), 0666), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("DISPLAY", ":54321", 1);
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (chdir(dir.path().c_str()) != 0 || out < 0)
            _exit(126);
        dup2(out, 2);
        execl(kProgram, kProgram, (char*)nullptr);
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    const int status = waitForExit(pid, 30000);
    if (status == -1)
        stop(pid);
    EXPECT_EQ(status, 1) << "-1: the program still waits for a writer of Language.ini";
    EXPECT_NE(TempFolder::readFile(output).find("no display"), std::string::npos) << TempFolder::readFile(output);
}

TEST(Program, ASecondInstanceEndsAtOnce)
{
    if (!getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X display (the test scripts run the tests under xvfb-run)";
    if (lockHolder() != 0)
        GTEST_SKIP() << "the program is running already";
    TempFolder home;
    const pid_t first = startProgram(home.path());
    ASSERT_GT(first, 0);
    for (int waited = 0; lockHolder() != first && waited < 30000 && waitForExit(first, 0) == -1; waited += 20)
        usleep(20000);
    if (lockHolder() != first) {
        stop(first);
        FAIL() << "the first instance never took the single-instance lock";
    }
    const pid_t second = startProgram(home.path());
    ASSERT_GT(second, 0);
    const int secondStatus = waitForExit(second, 30000), firstStatus = waitForExit(first, 0);
    stop(first);
    stop(second);
    EXPECT_EQ(secondStatus, 0) << "the second instance ends by itself, without an error";
    EXPECT_EQ(firstStatus, -1) << "the first instance goes on";
}
