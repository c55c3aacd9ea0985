#include "platform/SysString.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

TEST(SysString, Utf8BothWaysReferenceCountsAndTheOwner)
{
    const std::string name = "Synth \xC3\x9C" "ber Port 1";
    SysStringRef ref = Tr::SysStringFrom(name);
    EXPECT_EQ(Tr::StringFrom(ref), name);
    EXPECT_EQ(SysStringGetLength(ref), static_cast<int>(name.size())) << "length in bytes";
    SysStringRef second = SysStringRetain(ref);
    SysStringRelease(ref);
    EXPECT_EQ(std::string(SysStringGetCString(second)), name) << "still held by the second reference";
    SysStringRelease(second);
    EXPECT_EQ(Tr::StringFrom(nullptr), "");
    EXPECT_STREQ(SysStringGetCString(nullptr), "");
    EXPECT_EQ(SysString::Adopt(SysStringCreate(static_cast<const char*>(nullptr))).str(), "");

    SysString a("alpha");
    SysString b = a;
    EXPECT_EQ(a.get(), b.get()) << "copies share the reference";
    SysString c = std::move(b);
    EXPECT_EQ(b.get(), nullptr);
    // The "get" call pattern: a function stores a new reference through a pointer.
    [](SysStringRef* out) { *out = SysStringCreate("beta"); }(c.receive());
    EXPECT_EQ(c.str(), "beta");
    EXPECT_EQ(a.str(), "alpha");
    SysString back = SysString::Adopt(a.release());
    EXPECT_EQ(a.get(), nullptr);
    c = back;
    EXPECT_EQ(c.str(), "alpha");
}
