#pragma once
// The host clock that MIDI time stamps are measured in: the monotonic clock, one tick per
// nanosecond, so time stamps can be compared with any other monotonic reading of this process.

#include <cstdint>

// Current host time in ticks.
uint64_t AudioGetCurrentHostTime();

// Number of host-time ticks in the given number of nanoseconds.
uint64_t AudioConvertNanosToHostTime(uint64_t nanos);
