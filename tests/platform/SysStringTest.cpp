#include <gtest/gtest.h>

#include "platform/SysString.h"

#include <string>
#include <utility>

TEST(SysString, ConvertsUtf8BothWaysAndCountsReferences)
{
    const std::string name = "Synth \xC3\x9C" "ber Port 1";
    SysStringRef ref = Tr::SysStringFrom(name);
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(Tr::StringFrom(ref), name);
    EXPECT_EQ(SysStringGetLength(ref), static_cast<int>(name.size()));
    EXPECT_EQ(std::string(SysStringGetCString(ref)), name);

    SysStringRef second = SysStringRetain(ref);
    EXPECT_EQ(second, ref);
    SysStringRelease(ref);
    EXPECT_EQ(Tr::StringFrom(second), name) << "still held by the second reference";
    SysStringRelease(second);

    EXPECT_EQ(Tr::StringFrom(nullptr), "");
    EXPECT_EQ(SysStringGetLength(nullptr), 0);
    EXPECT_STREQ(SysStringGetCString(nullptr), "");
    SysStringRelease(nullptr);
    SysString fromNull = SysString::Adopt(SysStringCreate(static_cast<const char*>(nullptr)));
    EXPECT_EQ(fromNull.str(), "");
}

TEST(SysString, OwnerReleasesCopiesAndReceives)
{
    SysString a("alpha");
    SysString b = a;
    EXPECT_EQ(a.get(), b.get());
    SysString c = std::move(b);
    EXPECT_EQ(b.get(), nullptr);
    EXPECT_EQ(c.str(), "alpha");

    // The "get" call pattern: a function storing a new reference through a pointer.
    auto getName = [](SysStringRef* out) { *out = SysStringCreate("beta"); };
    getName(c.receive());
    EXPECT_EQ(c.str(), "beta");
    EXPECT_EQ(a.str(), "alpha");

    SysStringRef handed = a.release();
    EXPECT_EQ(a.get(), nullptr);
    SysString back = SysString::Adopt(handed);
    EXPECT_EQ(back.str(), "alpha");
    c = back;
    EXPECT_EQ(c.get(), back.get());
}
