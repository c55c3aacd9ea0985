// Starts the program itself.
#include "core/TempFolder.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <chrono>
#include <dlfcn.h>
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

// Whether the process shows a window on the test's display. The toolkit marks its windows with
// the process id; with no window manager they are the root window's children. The X library is
// loaded at run time, as the toolkit does; a window that goes while it is looked at (other tests
// use the display too) is an X error, which would end this process.
bool showsWindow(pid_t pid)
{
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
#define QUORVA_X(f) auto f = x11 ? (decltype(&::f))dlsym(x11, #f) : nullptr
    QUORVA_X(XOpenDisplay); QUORVA_X(XCloseDisplay); QUORVA_X(XQueryTree); QUORVA_X(XInternAtom);
    QUORVA_X(XGetWindowProperty); QUORVA_X(XGetWindowAttributes); QUORVA_X(XFree); QUORVA_X(XSetErrorHandler);
#undef QUORVA_X
    Display* display = XOpenDisplay && XSetErrorHandler ? XOpenDisplay(nullptr) : nullptr;
    if (!display)
        return false;
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    bool shown = false;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
        for (unsigned i = 0; i < count && !shown; ++i) {
            Atom type;
            int format;
            unsigned long items, rest;
            unsigned char* value = nullptr;
            XWindowAttributes attributes;
            shown = XGetWindowProperty(display, children[i], pidAtom, 0, 1, False, AnyPropertyType, &type, &format,
                                       &items, &rest, &value) == Success
                    && value && items == 1 && format == 32 && *(unsigned long*)value == (unsigned long)pid
                    && XGetWindowAttributes(display, children[i], &attributes)
                    && attributes.map_state == IsViewable;
            if (value)
                XFree(value);
        }
        if (children)
            XFree(children);
    }
    XCloseDisplay(display);
    return shown;
}

// Starts the program with its HOME there and its output discarded.
pid_t startProgram(const std::string& home)
{
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("HOME", home.c_str(), 1);
        // The program decides for itself what these signals do; the test runner may ignore them.
        signal(SIGTERM, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
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

// Ends the process unless it has ended (and was waited for) already: only a child still running
// is killed, never a process that took over the id of one waited for.
void stop(pid_t pid)
{
    if (waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

// Starts the program with its HOME there as the one running instance: other tests start it too,
// and a second instance ends at once. 0 when it never got the single-instance lock within 20 s.
pid_t startOnlyInstance(const std::string& home)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < end) {
        if (lockHolder() != 0) {
            usleep(20000);
            continue;
        }
        const pid_t pid = startProgram(home);
        int status = -1;
        while (lockHolder() != pid && std::chrono::steady_clock::now() < end && (status = waitForExit(pid, 0)) == -1)
            usleep(20000);
        if (lockHolder() == pid)
            return pid;
        if (status == -1)
            stop(pid);
    }
    return 0;
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
    TempFolder home;
    const pid_t first = startOnlyInstance(home.path());
    if (first == 0)
        GTEST_SKIP() << "the program is running already";
    const pid_t second = startProgram(home.path());
    ASSERT_GT(second, 0);
    const int secondStatus = waitForExit(second, 30000), firstStatus = waitForExit(first, 0);
    stop(first);
    stop(second);
    EXPECT_EQ(secondStatus, 0) << "the second instance ends by itself, without an error";
    EXPECT_EQ(firstStatus, -1) << "the first instance goes on";
}

// Logout, shutdown and `kill` send SIGTERM, a closed terminal SIGHUP: the program quits the normal
// way and writes its settings, even when the signal comes before its window is up.
TEST(Program, ASystemQuitSignalStillWritesTheSettings)
{
    if (!getenv("DISPLAY"))
        GTEST_SKIP() << "needs an X display (the test scripts run the tests under xvfb-run)";
    for (const int quitSignal : {SIGHUP, SIGTERM}) {
        SCOPED_TRACE(quitSignal == SIGTERM ? "SIGTERM once the window shows" : "SIGHUP as soon as the program holds its lock");
        TempFolder home;
        const pid_t pid = startOnlyInstance(home.path());
        if (pid == 0)
            GTEST_SKIP() << "the program is running already";
        for (int waited = 0; quitSignal == SIGTERM && !showsWindow(pid) && waited < 30000; waited += 20)
            usleep(20000);
        if (quitSignal == SIGTERM && !showsWindow(pid)) {
            stop(pid);
            FAIL() << "the window never showed";
        }
        kill(pid, quitSignal);
        const int status = waitForExit(pid, 30000);
        stop(pid);
        EXPECT_EQ(status, 0) << "the program ends by itself, without an error";
        const std::string ini = TempFolder::readFile(home / ".Quorva Tindral/QuorvaMidi2.vzrs");
        for (const char* part : {"[Current]\n", "\nMainLeft=", "\nMainTop="})
            EXPECT_NE(ini.find(part), std::string::npos) << "no '" << part << "' in:\n" << ini;
    }
}
