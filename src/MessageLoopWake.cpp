#include "MessageLoopWake.h"

#include <juce_events/juce_events.h>

#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// The living one's descriptor, for the static quit.
int g_wake = -1;

} // namespace

MessageLoopWake::MessageLoopWake() : FWake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    // Without it a quit is still a quit, only one that may wait for the next event.
    if (FWake < 0)
        return;
    // Never read: once written, the descriptor stays readable until the program ends.
    juce::LinuxEventLoop::registerFdCallback(FWake, [](int) {});
    g_wake = FWake;
}

MessageLoopWake::~MessageLoopWake()
{
    if (FWake < 0)
        return;
    g_wake = -1;
    juce::LinuxEventLoop::unregisterFdCallback(FWake);
    close(FWake);
}

void MessageLoopWake::quit(int status)
{
    if (auto* application = juce::JUCEApplicationBase::getInstance(); application != nullptr && status != 0)
        application->setApplicationReturnValue(status);
    juce::JUCEApplicationBase::quit();
    if (g_wake < 0)
        return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(g_wake, &one, sizeof one);
}
