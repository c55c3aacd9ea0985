#include "platform/HostClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(HostClock, TicksAreMonotonicNanoseconds)
{
    // One tick per nanosecond: 546 bytes at 320 us each take 174.72 ms.
    EXPECT_EQ(AudioConvertNanosToHostTime(546ull * 320000ull), 174720000u);

    const auto steady = [] {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::steady_clock::now().time_since_epoch())
                                         .count());
    };
    const uint64_t before = steady();
    const uint64_t start = AudioGetCurrentHostTime();
    const uint64_t after = steady();
    EXPECT_LE(before, start) << "host time is the monotonic clock";
    EXPECT_LE(start, after);

    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const uint64_t later = AudioGetCurrentHostTime();
    EXPECT_GE(later - start, AudioConvertNanosToHostTime(20000000)) << "20 ms passed";
    EXPECT_LT(later - start, AudioConvertNanosToHostTime(20000000000ull)) << "but not 20 s";
}
