#include "TrAssert.h"

#include <cstdio>
#include <cstdlib>

namespace Tr {

void AssertionFailed(const char* file, unsigned line, const char* expression)
{
    std::fprintf(stderr, "%s:%u: failed assertion `%s'\n", file, line, expression);
    std::fflush(stderr);
    std::abort();
}

} // namespace Tr
