#include "SysString.h"

#include <atomic>
#include <utility>

struct SysStringObject
{
    explicit SysStringObject(std::string t) : text(std::move(t)) {}
    const std::string text;
    // References may be dropped on the MIDI receive thread as well as on the message thread.
    mutable std::atomic<int> refs{1};
};

SysStringRef SysStringCreate(const std::string& utf8)
{
    return new SysStringObject(utf8);
}

SysStringRef SysStringCreate(const char* utf8)
{
    return new SysStringObject(utf8 != nullptr ? utf8 : "");
}

SysStringRef SysStringRetain(SysStringRef s)
{
    if (s != nullptr)
        s->refs.fetch_add(1, std::memory_order_relaxed);
    return s;
}

void SysStringRelease(SysStringRef s)
{
    if (s != nullptr && s->refs.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete s;
}

int SysStringGetLength(SysStringRef s)
{
    return s != nullptr ? static_cast<int>(s->text.size()) : 0;
}

const char* SysStringGetCString(SysStringRef s)
{
    return s != nullptr ? s->text.c_str() : "";
}

SysString SysString::Adopt(SysStringRef ref)
{
    SysString result;
    result.FRef = ref;
    return result;
}

SysString::SysString(const SysString& other) : FRef(SysStringRetain(other.FRef)) {}

SysString::SysString(SysString&& other) noexcept : FRef(other.FRef)
{
    other.FRef = nullptr;
}

SysString& SysString::operator=(SysString other) noexcept
{
    std::swap(FRef, other.FRef);
    return *this;
}

SysString::~SysString()
{
    SysStringRelease(FRef);
}

SysStringRef SysString::release()
{
    SysStringRef ref = FRef;
    FRef = nullptr;
    return ref;
}

SysStringRef* SysString::receive()
{
    SysStringRelease(FRef);
    FRef = nullptr;
    return &FRef;
}

std::string SysString::str() const
{
    return Tr::StringFrom(FRef);
}

namespace Tr {

std::string StringFrom(SysStringRef s)
{
    return s != nullptr ? s->text : std::string();
}

SysStringRef SysStringFrom(const std::string& s)
{
    return SysStringCreate(s);
}

} // namespace Tr
