// Our stand-in for the system-information service: it answers the system-version question from
// the running kernel's release.
#pragma once

#include <cstdint>

// Selector 'sysv': the system version with one decimal digit in each 4-bit group
// (0x0610 for 6.1.0; a two-digit major version such as 10 takes the whole byte, 0x1058).
constexpr uint32_t gestaltSystemVersion = ('s' << 24) | ('y' << 16) | ('s' << 8) | 'v';

constexpr int gestaltNoErr = 0;
constexpr int gestaltUndefSelectorErr = -5551;
constexpr int gestaltUnknownErr = -5550;

// Stores the answer for selector in *response and returns gestaltNoErr, or returns an error and
// leaves *response alone.
int Gestalt(uint32_t selector, int32_t* response);

// The system-version value of a kernel release text such as "6.1.0-18-amd64"; -1 when the text
// does not begin with a number. A number too large for its group is stored as the largest value
// the group holds (19 for the major version, 15 for the others), so the readers of the value
// still see the right numbers up to there.
int32_t SystemVersionFromRelease(const char* release);
