// Stand-in until the core library's own assertion lands; replaced on merge.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace Tr {

[[noreturn]] inline void AssertionFailed(const char* file, unsigned line, const char* expression)
{
    std::fprintf(stderr, "%s:%u: failed assertion `%s'\n", file, line, expression);
    std::abort();
}

} // namespace Tr

#define TR_ASSERT(expr) ((expr) ? (void)0 : ::Tr::AssertionFailed(__FILE__, __LINE__, #expr))
