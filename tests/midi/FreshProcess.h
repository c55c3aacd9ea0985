#pragma once

#include <functional>

// The MIDI library's singletons live once per process: after Tr::VuskSystem::shutdown() asking for
// them again is a fatal assertion, by design. A test that needs them runs its body here, in a forked
// child of the test program (which itself never makes them), so the whole program still runs in one
// process. The child shuts the singletons down at the end, so their destructors run too, and checks
// for leaks in sanitizer builds. Its failures are printed where they happen and fail the caller.
void RunInFreshProcess(const std::function<void()>& body);
