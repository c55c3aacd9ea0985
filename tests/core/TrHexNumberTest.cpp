#include <gtest/gtest.h>

#include "core/TrUtil.h"

#include <climits>
#include <string>

TEST(TrHex, ReadsEitherCaseAndRejectsBadDigits)
{
    EXPECT_EQ(Tr::HexToInt(std::string()), 0);
    EXPECT_EQ(Tr::HexToInt("1f"), 31);
    EXPECT_EQ(Tr::HexToInt("1F"), 31);
    EXPECT_EQ(Tr::HexToInt("1g"), -1);
    EXPECT_EQ(Tr::HexToInt(" 1"), -1);
    EXPECT_EQ(Tr::HexToInt('b'), 11);
    EXPECT_EQ(Tr::HexToInt('G'), -1);
    EXPECT_EQ(Tr::HexToInt('\xC3'), -1);
    EXPECT_EQ(Tr::HexToInt("7FFFFFFF"), INT_MAX);
    EXPECT_EQ(Tr::HexToInt("123456789"), 0x23456789) << "only the last eight digits count";
    EXPECT_EQ(Tr::HexToInt("z23456789"), -1) << "a bad digit counts even beyond eight";
    EXPECT_EQ(Tr::HexToIntD("zz", 7), 7);
    EXPECT_EQ(Tr::HexToIntD("4944494D", 7), 0x4944494D);

    EXPECT_EQ(Tr::HexToIntPos("xx7Fxx", 3, 2), 127);
    EXPECT_EQ(Tr::HexToIntPos("xx7Fxx", 3, 0), 0);
    EXPECT_EQ(Tr::HexToIntPos("xx7Fxx", 2, 2), -1);
    EXPECT_EQ(Tr::HexToIntPos("xx7F", 4, 2), -1) << "a range past the end is not read";
    EXPECT_EQ(Tr::HexToIntPos("7F", 0, 2), -1) << "positions are 1-based";
    EXPECT_EQ(Tr::HexToIntPos("7F", INT_MAX, INT_MAX), -1);
    int v = 99;
    EXPECT_TRUE(Tr::HexToIntPos("xx7Fxx", 3, 2, v));
    EXPECT_EQ(v, 127);
    EXPECT_FALSE(Tr::HexToIntPos("xx7Gxx", 3, 2, v));
    EXPECT_EQ(v, 0);
    v = 99;
    EXPECT_TRUE(Tr::HexToIntPos("", 5, -1, v));
    EXPECT_EQ(v, 0);
}

TEST(TrHex, WritesUpperCaseWithinTheDigitLimits)
{
    EXPECT_EQ(Tr::IntToHex(255, 4), "00FF");
    EXPECT_EQ(Tr::IntToHex(0, 0), "0");
    EXPECT_EQ(Tr::IntToHex(-1, 2), "FFFFFFFF");
    EXPECT_EQ(Tr::IntToHex(INT_MIN, 1), "80000000");
    EXPECT_EQ(Tr::IntToHex(0xABCDEF, 1), "ABCDEF");
    EXPECT_EQ(Tr::IntToHex(0x12345, 12), "00012345") << "never more than eight digits";
    EXPECT_EQ(Tr::IntToHexLen(0x12345, 2, 4), "2345");
    EXPECT_EQ(Tr::IntToHexLen(5, 4, 4), "0005");
    EXPECT_EQ(Tr::IntToHexLen(0x1ABCD, 1, 2), "CD");
    EXPECT_EQ(Tr::IntToHexLen(0, 0, 0), "0");
    EXPECT_EQ(Tr::IntToHexLen(-2, 8, 8), "FFFFFFFE");
    EXPECT_EQ(Tr::IntToHexLen(-2, 1, 2), "FE");
    EXPECT_EQ(Tr::IntToHexLen(0x123, 6, 9), "000123") << "a max outside 1..8 means 8";

    std::string s = "xxxxxx";
    Tr::IntToHexLenPos(s, 0xAB, 4, 2);
    EXPECT_EQ(s, "x00ABx");
    s = "xxx";
    Tr::IntToHexLenPos(s, 0xABCD, 4, 2);
    EXPECT_EQ(s, "xAB") << "cut at the end of the text";
    s = "xxx";
    Tr::IntToHexLenPos(s, 0xF, 2, 0);
    EXPECT_EQ(s, "0Fx") << "position 0 reads as 1";
    s = "xxx";
    Tr::IntToHexLenPos(s, 1, 2, 10);
    EXPECT_EQ(s, "xxx");
    s = "xxxxxxxxxx";
    Tr::IntToHexLenPos(s, -2, 10, 1);
    EXPECT_EQ(s, "FFFFFFFFFE");

    const unsigned char msg[] = {0x90, 0x3C, 0x7F};
    EXPECT_EQ(Tr::formatMidiMessage(msg, 3), "90 3C 7F");
    EXPECT_EQ(Tr::formatMidiMessage(msg, 0), "");
    EXPECT_EQ(Tr::formatMidiMessage(nullptr, 3), "");
}

TEST(TrNumbers, DecimalReadersAndParsers)
{
    EXPECT_EQ(Tr::StrToIntDef("-5", 7), -5);
    EXPECT_EQ(Tr::StrToIntDef("", 7), 0);
    EXPECT_EQ(Tr::StrToIntDef("5a", 7), 7);
    EXPECT_EQ(Tr::StrToIntDef("5-", 7), 7);
    EXPECT_EQ(Tr::StrToIntDef("--5", 7), 7);
    EXPECT_EQ(Tr::StrToIntDef("2147483647", 7), INT_MAX);
    EXPECT_EQ(Tr::StrToIntDef("-2147483648", 7), INT_MIN);
    int v = 0;
    EXPECT_FALSE(Tr::StrToInt("12a34", v));
    EXPECT_EQ(v, 34) << "the digits right of the bad character";
    EXPECT_TRUE(Tr::StrToInt("", v));
    EXPECT_EQ(v, 0);
    EXPECT_EQ(Tr::StrToInt('7'), 7);
    EXPECT_EQ(Tr::StrToInt('x'), -1);

    int count = -1;
    EXPECT_EQ(Tr::parseInt("ab123c", 2, count), 123);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Tr::parseInt("12", 2, count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(Tr::parseInt("12", -1, count), 0);
    EXPECT_EQ(Tr::parseHex("x1fz", 1, count), 31);
    EXPECT_EQ(count, 2);

    v = 5;
    EXPECT_EQ(Tr::parseNumber("-$1F", 1, v), 4);
    EXPECT_EQ(v, -31);
    EXPECT_EQ(Tr::parseNumber("0x", 1, v), 1);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(Tr::parseNumber("0x1f", 1, v), 4);
    EXPECT_EQ(v, 31);
    EXPECT_EQ(Tr::parseNumber("$-10", 1, v), 4);
    EXPECT_EQ(v, -16);
    v = 5;
    EXPECT_EQ(Tr::parseNumber("-$-1", 1, v), 0) << "two signs";
    EXPECT_EQ(v, 5);
    EXPECT_EQ(Tr::parseNumber("-0x", 1, v), 0);
    EXPECT_EQ(Tr::parseNumber("abc", 1, v), 0);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(Tr::parseNumber("ab-7z", 3, v), 2);
    EXPECT_EQ(v, -7);
    EXPECT_EQ(Tr::parseNumber("+12", 0, v), 3);
    EXPECT_EQ(v, 12);
    EXPECT_EQ(Tr::parseNumber("12", 9, v), 0);
    EXPECT_FALSE(Tr::parseNumber("12ab", v));
    EXPECT_TRUE(Tr::parseNumber("-42", v));
    EXPECT_EQ(v, -42);
    EXPECT_FALSE(Tr::parseNumber("", v)) << "no number is no success";
    EXPECT_DOUBLE_EQ(Tr::parseDouble("2.5x"), 2.5);
}
