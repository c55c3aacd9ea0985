#pragma once

#include <string>

// System string references of the platform layer. On Linux system texts (port and client
// names) are UTF-8, so a reference is an immutable, reference-counted UTF-8 text. As with the
// system's own string references, whoever creates one, or receives one from a "get" call,
// releases it; SysString does that automatically.

struct SysStringObject;
using SysStringRef = const SysStringObject*;

SysStringRef SysStringCreate(const std::string& utf8);   // a new reference (count 1), never null
SysStringRef SysStringCreate(const char* utf8);          // null gives an empty text
SysStringRef SysStringRetain(SysStringRef s);            // one more reference; null passes through
void SysStringRelease(SysStringRef s);                   // null is ignored
int SysStringGetLength(SysStringRef s);                  // in bytes; 0 for null
const char* SysStringGetCString(SysStringRef s);         // never null; valid while s is held

// Owns one reference.
class SysString
{
public:
    SysString() = default;
    explicit SysString(const std::string& utf8) : FRef(SysStringCreate(utf8)) {}
    static SysString Adopt(SysStringRef ref);            // takes over a reference the caller holds
    SysString(const SysString& other);
    SysString(SysString&& other) noexcept;
    SysString& operator=(SysString other) noexcept;
    ~SysString();

    SysStringRef get() const { return FRef; }
    SysStringRef release();                              // hands the reference to the caller
    // For "get" calls that store a new reference through a pointer: drops the current one.
    SysStringRef* receive();
    std::string str() const;

private:
    SysStringRef FRef = nullptr;
};

namespace Tr {

std::string StringFrom(SysStringRef s);                  // "" for null or an empty text
SysStringRef SysStringFrom(const std::string& s);        // a new reference the caller releases

} // namespace Tr
