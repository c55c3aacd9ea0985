#pragma once

#include <functional>

// The MIDI library's singletons live once per process: after Tr::VuskSystem::shutdown() asking for
// them again is a fatal assertion, by design. A test that needs fresh singletons therefore runs its
// body in a forked child of the test program (which itself never creates them); the child shuts the
// singletons down at the end, so their destructors run too, and hands every failed expectation back
// to the parent, which reports it at its original file and line.
void RunInFreshProcess(const std::function<void()>& body);
