#include "Gestalt.h"

#include <cctype>
#include <sys/utsname.h>

namespace {

// Reads the decimal number at *p, moving p behind it; -1 when there is no digit.
long readNumber(const char*& p)
{
    if (!isdigit((unsigned char)*p))
        return -1;
    long value = 0;
    while (isdigit((unsigned char)*p)) {
        if (value < 1000000)
            value = value * 10 + (*p - '0');
        ++p;
    }
    return value;
}

} // namespace

int32_t SystemVersionFromRelease(const char* release)
{
    if (!release)
        return -1;
    const char* p = release;
    long numbers[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        long n = readNumber(p);
        if (n < 0) {
            if (i == 0)
                return -1;
            break;
        }
        numbers[i] = n;
        if (*p != '.')
            break;
        ++p;
    }
    long major = numbers[0] > 19 ? 19 : numbers[0];
    long minor = numbers[1] > 15 ? 15 : numbers[1];
    long patch = numbers[2] > 15 ? 15 : numbers[2];
    // The major version is written in two decimal digits: 10 is 0x10.
    long majorByte = (major / 10) * 16 + major % 10;
    return (int32_t)((majorByte << 8) | (minor << 4) | patch);
}

int Gestalt(uint32_t selector, int32_t* response)
{
    if (selector != gestaltSystemVersion)
        return gestaltUndefSelectorErr;
    utsname names;
    if (uname(&names) != 0)
        return gestaltUnknownErr;
    int32_t value = SystemVersionFromRelease(names.release);
    if (value < 0)
        return gestaltUnknownErr;
    if (response)
        *response = value;
    return gestaltNoErr;
}
