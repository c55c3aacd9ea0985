#include "core/TrFiles.h"
#include "platform/Gestalt.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sys/utsname.h>

TEST(Gestalt, SystemVersionFromKernelReleaseAndOfTheRunningKernel)
{
    EXPECT_EQ(SystemVersionFromRelease("6.1.0-18-amd64"), 0x0610);
    EXPECT_EQ(SystemVersionFromRelease("5.10.7"), 0x05A7) << "numbers up to 15 fit their group";
    EXPECT_EQ(SystemVersionFromRelease("5.15.133-generic"), 0x05FF) << "larger ones stay at the group's largest";
    EXPECT_EQ(SystemVersionFromRelease("10.5.8"), 0x1058) << "a two-digit major version in decimal digits";
    EXPECT_EQ(SystemVersionFromRelease("25.0.1"), 0x1901) << "the major version stops at 19";
    EXPECT_EQ(SystemVersionFromRelease("6.2-rc1"), 0x0620);
    EXPECT_EQ(SystemVersionFromRelease("v6.2"), -1);
    EXPECT_EQ(SystemVersionFromRelease(""), -1);
    EXPECT_EQ(SystemVersionFromRelease(nullptr), -1);

    int32_t value = 12345;
    EXPECT_NE(Gestalt(0x61626364, &value), gestaltNoErr) << "only the system version is known";
    EXPECT_EQ(value, 12345) << "an unknown question leaves the answer alone";

    // The running kernel's.
    ASSERT_TRUE(Tr::needPlatform());
    EXPECT_NE(Tr::MacVersion, -1) << "the first query stores the answer";
    utsname names;
    ASSERT_EQ(uname(&names), 0);
    const long kernelMajor = strtol(names.release, nullptr, 10);
    EXPECT_EQ(Tr::getOSVersionMajor(), kernelMajor < 19 ? kernelMajor : 19);
    const std::string text = Tr::getOSVersionString();
    EXPECT_TRUE(std::regex_match(text, std::regex("[0-9]+\\.[0-9]+\\.[0-9]+"))) << text;
    EXPECT_EQ(text.rfind(std::to_string(kernelMajor) + ".", 0), 0u) << text << " for " << names.release;

    // The readers of a stored value with a two-digit major version and a minor above 9.
    const int saved = Tr::MacVersion;
    Tr::MacVersion = 0x1058;
    EXPECT_EQ(Tr::getOSVersionString(), "10.5.8");
    EXPECT_EQ(Tr::getOSVersionMinorMinor(), 8);
    Tr::MacVersion = 0x05A7;
    EXPECT_EQ(Tr::getOSVersionString(), "5.10.7");
    Tr::MacVersion = saved;
}
