#pragma once

// Cancelling a thread unwinds its stack by a forced unwind that AddressSanitizer does not follow: it
// reports the cancelled thread's own frames as used after their scope. The cancellation itself is
// tested in the plain build.
#if defined(__SANITIZE_ADDRESS__)
#define SKIP_THREAD_CANCEL_UNDER_ASAN() GTEST_SKIP() << "thread cancellation is not traceable under AddressSanitizer"
#else
#define SKIP_THREAD_CANCEL_UNDER_ASAN() (void)0
#endif
