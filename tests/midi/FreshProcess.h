#pragma once

#include <functional>
#include <sys/types.h>

// The MIDI library's singletons live once per process: after Tr::VuskSystem::shutdown() asking for
// them again is a fatal assertion, by design. A test that needs them runs its body here, in a forked
// child of the test program (which itself never makes them), so the whole program still runs in one
// process. The child shuts the singletons down at the end, so their destructors run too, and checks
// for leaks in sanitizer builds. Its failures are printed where they happen and fail the caller.
void RunInFreshProcess(const std::function<void()>& body);

// Waits up to ms (in 20 ms steps) for the child to end: its exit status, 128 + the signal that ended
// it, or -1 while it runs.
int WaitForExit(pid_t pid, int ms);

// Ends the child unless it has ended (and was waited for) already: only a child still running is
// killed, never a process that took over the id of one waited for.
void StopChild(pid_t pid);
