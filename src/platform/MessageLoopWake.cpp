#include "MessageLoopWake.h"

#include "AlsaHandles.h"

#include <juce_events/juce_events.h>

#include <system_error>

namespace {

// The living one's descriptor, for the static quit.
Alsa::EventFd* g_wake = nullptr;

} // namespace

MessageLoopWake::MessageLoopWake()
{
    try {
        FWake = std::make_unique<Alsa::EventFd>();
    } catch (const std::system_error&) {
        // Without it a quit is still a quit, only one that may wait for the next event.
        return;
    }
    // Never read: once written, the descriptor stays readable until the program ends.
    juce::LinuxEventLoop::registerFdCallback(FWake->fd(), [](int) {});
    g_wake = FWake.get();
}

MessageLoopWake::~MessageLoopWake()
{
    if (!FWake)
        return;
    g_wake = nullptr;
    juce::LinuxEventLoop::unregisterFdCallback(FWake->fd());
}

void MessageLoopWake::quit()
{
    juce::JUCEApplicationBase::quit();
    if (g_wake)
        g_wake->Signal();
}
