#include <gtest/gtest.h>

#include "core/TrUtil.h"

#include <climits>
#include <string>

TEST(TrHex, ReadsEitherCaseRejectsBadDigitsAndRangesAndWritesUpperCase)
{
    EXPECT_EQ(Tr::HexToInt(std::string()), 0);
    EXPECT_EQ(Tr::HexToInt("aF"), 175);
    EXPECT_EQ(Tr::HexToInt("1g"), -1);
    EXPECT_EQ(Tr::HexToInt('\xC3'), -1) << "a byte above 0x7F is no digit";
    EXPECT_EQ(Tr::HexToInt("7FFFFFFF"), INT_MAX);
    EXPECT_EQ(Tr::HexToInt("123456789"), 0x23456789) << "only the last eight digits count";
    EXPECT_EQ(Tr::HexToInt("z23456789"), -1) << "a bad digit counts even beyond eight";
    EXPECT_EQ(Tr::HexToIntD("zz", 7), 7);

    EXPECT_EQ(Tr::HexToIntPos("xx7Fxx", 3, 2), 127);
    EXPECT_EQ(Tr::HexToIntPos("xx7F", 4, 2), -1) << "a range past the end is not read";
    EXPECT_EQ(Tr::HexToIntPos("7F", 0, 2), -1) << "positions are 1-based";
    EXPECT_EQ(Tr::HexToIntPos("7F", INT_MAX, INT_MAX), -1);
    int v = 99;
    EXPECT_FALSE(Tr::HexToIntPos("xx7Gxx", 3, 2, v));
    EXPECT_EQ(v, 0);

    // Written in upper case within the digit limits.
    EXPECT_EQ(Tr::IntToHex(255, 4), "00FF");
    EXPECT_EQ(Tr::IntToHex(-1, 2), "FFFFFFFF");
    EXPECT_EQ(Tr::IntToHex(0x12345, 12), "00012345") << "never more than eight digits";
    EXPECT_EQ(Tr::IntToHexLen(0x12345, 2, 4), "2345");
    EXPECT_EQ(Tr::IntToHexLen(-2, 1, 2), "FE");
    EXPECT_EQ(Tr::IntToHexLen(0x123, 6, 9), "000123") << "a max outside 1..8 means 8";

    struct Case { const char* before; int value, len, pos; const char* after; };
    for (const Case& c : {Case{"xxxxxx", 0xAB, 4, 2, "x00ABx"}, Case{"xxx", 0xABCD, 4, 2, "xAB"},
                          Case{"xxx", 0xF, 2, 0, "0Fx"}, Case{"xxx", 1, 2, 10, "xxx"},
                          Case{"xxxxxxxxxx", -2, 10, 1, "FFFFFFFFFE"}})
    {
        std::string s = c.before;
        Tr::IntToHexLenPos(s, c.value, c.len, c.pos);
        EXPECT_EQ(s, c.after) << "value " << c.value << " len " << c.len << " at " << c.pos;
    }

    const unsigned char msg[] = {0x90, 0x3C, 0x7F};
    EXPECT_EQ(Tr::formatMidiMessage(msg, 3), "90 3C 7F");
}

TEST(TrNumbers, DecimalReadersAndParsers)
{
    EXPECT_EQ(Tr::StrToIntDef("--5", 7), 7);
    EXPECT_EQ(Tr::StrToIntDef("-2147483648", 7), INT_MIN);
    int v = 0, count = -1;
    EXPECT_EQ(Tr::parseInt("ab123c", 2, count), 123);
    EXPECT_EQ(count, 3);

    struct Case { const char* text; int pos, used, value; };
    for (const Case& c : {Case{"-$1F", 1, 4, -31}, Case{"0x", 1, 1, 0}, Case{"$-10", 1, 4, -16},
                          Case{"ab-7z", 3, 2, -7}, Case{"-$-1", 1, 0, 5}, Case{"-0x", 1, 0, 5}})
    {
        v = 5;
        EXPECT_EQ(Tr::parseNumber(c.text, c.pos, v), c.used) << c.text << " at " << c.pos;
        EXPECT_EQ(v, c.value) << c.text << " at " << c.pos << (c.used == 0 ? ": nothing read must leave the value" : "");
    }
    EXPECT_FALSE(Tr::parseNumber("12ab", v));
    EXPECT_FALSE(Tr::parseNumber("", v)) << "no number is no success";
}
