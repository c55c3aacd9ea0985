#pragma once

// Internal consistency checks. They stay active in every build type: a broken invariant in the
// port lists must stop the program rather than let it send to the wrong device.

namespace Tr {

// Prints "<file>:<line>: failed assertion `<expression>'" to stderr and aborts.
[[noreturn]] void AssertionFailed(const char* file, unsigned line, const char* expression);

} // namespace Tr

#define TR_ASSERT(expr) \
    ((expr) ? static_cast<void>(0) : ::Tr::AssertionFailed(__FILE__, __LINE__, #expr))

// For code paths that must never be reached (a singleton asked for after its destruction, an
// out-of-range enumeration value); the printed expression is "FALSE".
#define TR_FAIL() ::Tr::AssertionFailed(__FILE__, __LINE__, "FALSE")
