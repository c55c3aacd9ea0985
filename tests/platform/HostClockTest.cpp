#include "platform/HostClock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>

TEST(HostClock, TicksAreMonotonicNanoseconds)
{
    // One tick per nanosecond: the wire time of one MIDI byte is 320000 ticks.
    EXPECT_EQ(AudioConvertNanosToHostTime(320000), 320000u);
    EXPECT_EQ(AudioConvertNanosToHostTime(0), 0u);
    EXPECT_EQ(AudioConvertNanosToHostTime(546ull * 320000ull), 174720000u);

    timespec before {};
    clock_gettime(CLOCK_MONOTONIC, &before);
    const uint64_t start = AudioGetCurrentHostTime();
    timespec after {};
    clock_gettime(CLOCK_MONOTONIC, &after);
    const auto nanos = [](const timespec& t) {
        return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
    };
    EXPECT_LE(nanos(before), start) << "host time is the monotonic clock";
    EXPECT_LE(start, nanos(after));

    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const uint64_t later = AudioGetCurrentHostTime();
    EXPECT_GE(later - start, AudioConvertNanosToHostTime(20000000)) << "20 ms passed";
    EXPECT_LT(later - start, AudioConvertNanosToHostTime(20000000000ull)) << "but not 20 s";
}
