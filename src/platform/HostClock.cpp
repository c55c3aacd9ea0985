#include "platform/HostClock.h"

#include <ctime>

uint64_t AudioGetCurrentHostTime()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t AudioConvertNanosToHostTime(uint64_t nanos)
{
    return nanos;
}
