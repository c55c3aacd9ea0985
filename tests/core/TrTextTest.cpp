#include <gtest/gtest.h>

#include "core/TrAssert.h"
#include "core/TrUtil.h"

#include <string>

TEST(TrText, CompareSearchReplaceTrimEscapeAndCopy)
{
    EXPECT_EQ(Tr::CompareText("abc", "ABC"), 0);
    EXPECT_EQ(Tr::CompareText("ab", "abc"), -1);
    EXPECT_EQ(Tr::CompareText("\xC3\xA9", "z"), -1) << "bytes 0x80..0xFF sort before ASCII";
    EXPECT_EQ(Tr::CompareText(std::string("a\0b", 3), std::string("a\0c", 3)), -1);
    EXPECT_EQ(Tr::CompareText("Port 1a", "PORT 1B"), -1) << "equal bytes, then bytes equal ignoring case";
    EXPECT_EQ(Tr::CompareText("port 2", "PORT 10"), 1);
    EXPECT_EQ(Tr::CompareText("\xC3\xA9", "\xC3\x89"), 1) << "no case outside ASCII";
    EXPECT_TRUE(Tr::StrEndsWith("file.SYX", ".syx", true));
    EXPECT_FALSE(Tr::StrEndsWith("file.SYX", ".syx", false));
    EXPECT_FALSE(Tr::StrEndsWith("syx", ".syx", true));
    EXPECT_FALSE(Tr::StrStartsWithPos("abc", "c", 9));
    EXPECT_FALSE(Tr::StrStartsWith(std::wstring(L"\u00e9a"), std::wstring(L"\u00fc"), true))
        << "texts the locale cannot convert must not compare equal";
    EXPECT_EQ(Tr::StrPos("B", "abc", true), 2);

    EXPECT_EQ(Tr::StrReplaceAll("aXbXc", "X", "--"), "a--b--c");
    EXPECT_EQ(Tr::StrReplaceAll("aa", "a", "ba"), "aa") << "replacement holds the searched text";
    EXPECT_EQ(Tr::StrReplaceAll("abc", "", "y"), "abc");
    EXPECT_EQ(Tr::Trim(" \t a b \r\n"), "a b");
    EXPECT_EQ(Tr::Trim(" \xE2\x82\xAC\xC2\xA0"), "\xE2\x82\xAC\xC2\xA0") << "UTF-8 bytes are no white space";

    const std::string raw = std::string("a\x08\t\n\r\\\"z");
    EXPECT_EQ(Tr::EscapeString(raw), "a\\a\\t\\n\\r\\\\\"z");
    EXPECT_EQ(Tr::UnEscapeString(Tr::EscapeString(raw)), raw);
    EXPECT_EQ(Tr::UnEscapeString("a\\"), "a");

    std::string s = "old";
    Tr::SetString(s, "hello", 1);
    EXPECT_EQ(s, "") << "a length of 1 copies nothing";
    Tr::SetString(s, "hello", 3);
    EXPECT_EQ(s, "hel");
    int pos = 6;
    EXPECT_EQ(Tr::ExtractTokenizedString("a,bc,,d", pos, ','), "d");
    EXPECT_EQ(pos, 7);
}

TEST(TrTextDeathTest, AssertionsPrintFileLineAndExpression)
{
    EXPECT_DEATH(TR_ASSERT(1 + 1 == 3), "TrTextTest.cpp:[0-9]+: failed assertion `1 \\+ 1 == 3'");
    EXPECT_DEATH(Tr::getEditionName(static_cast<Tr::ZREdition>(5)), "failed assertion `FALSE'");
}
