#include "SystemQuitSignals.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The pipe's ends; set once, before any handler can run.
std::atomic<int> g_readEnd{-1};
std::atomic<int> g_writeEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch lock-free atomics");

void onQuitSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // The end does not block: a full pipe already holds a request, and one more adds nothing.
    [[maybe_unused]] const ssize_t written = write(g_writeEnd.load(), &byte, 1);
    errno = savedErrno;
}

// Empties the pipe; true when it held at least one request.
bool takeRequests(int fd)
{
    bool any = false;
    char bytes[64];
    while (read(fd, bytes, sizeof bytes) > 0)
        any = true;
    return any;
}

// A copy of fd at 3 or above, with fd closed; -1 on failure. A program started with its standard
// descriptors closed would otherwise get the pipe there, and whatever later writes to "stdout"
// would ask it to quit.
int aboveStandardDescriptors(int fd)
{
    if (fd > STDERR_FILENO)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fd);
    return moved;
}

} // namespace

bool SystemQuitSignals::catchSignals()
{
    if (g_readEnd.load() >= 0)
        return true;
    int ends[2];
    if (pipe2(ends, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    const int writeEnd = aboveStandardDescriptors(ends[1]);
    const int readEnd = aboveStandardDescriptors(ends[0]);
    if (readEnd < 0 || writeEnd < 0) {
        for (const int fd : {readEnd, writeEnd})
            if (fd >= 0)
                close(fd);
        return false;
    }
    g_writeEnd.store(writeEnd);
    g_readEnd.store(readEnd);

    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    // Whatever the signal interrupts carries on; the pipe alone wakes the message loop. The same
    // signal again finds the default action, so a program that hangs while it quits still ends
    // with a second `kill`. Only the same signal: a session that ends sends SIGTERM and SIGHUP
    // right after it, and the quit must survive that pair.
    action.sa_flags = int(SA_RESTART | SA_RESETHAND);
    bool ok = true;
    for (const int signal : {SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        ok = sigaction(signal, &action, nullptr) == 0 && ok;
    }
    return ok;
}

SystemQuitSignals::SystemQuitSignals(std::function<void()> onQuit) : FOnQuit(std::move(onQuit))
{
    if (!catchSignals())
        return;
    FWatched = g_readEnd.load();
    juce::LinuxEventLoop::registerFdCallback(FWatched, [this](int fd) {
        if (takeRequests(fd))
            FOnQuit();
    });
}

SystemQuitSignals::~SystemQuitSignals()
{
    if (FWatched >= 0)
        juce::LinuxEventLoop::unregisterFdCallback(FWatched);
}
