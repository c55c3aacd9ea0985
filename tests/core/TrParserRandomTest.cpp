#include <gtest/gtest.h>

#include "core/TrUtil.h"

#include <algorithm>
#include <climits>
#include <random>
#include <string>

// Random texts through the hex and number readers: no crash, no read outside the text (the
// sanitizer build checks that), and results that stay inside their documented ranges.
TEST(TrParserRandom, ReadersStayInsideTheirInput)
{
    std::mt19937 rng(20240611u);
    const std::string alphabet = "0123456789abcdefABCDEFxX$+- g\xC3\xA9\x80\xFF";
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

    for (int run = 0; run < 4000; ++run)
    {
        std::string s;
        const int n = pick(0, 24);
        for (int i = 0; i < n; ++i)
            s += alphabet[static_cast<size_t>(pick(0, static_cast<int>(alphabet.size()) - 1))];
        const int pos = pick(-4, n + 4);
        const int len = pick(-3, 30);
        SCOPED_TRACE("text \"" + s + "\" pos " + std::to_string(pos) + " len " + std::to_string(len));

        Tr::HexToInt(s);
        Tr::HexToIntD(s, 0);
        Tr::StrToIntDef(s, 0);
        int v = 0;
        Tr::StrToInt(s, v);

        const int hexPos = Tr::HexToIntPos(s, pos, len);
        if (len >= 1 && (pos < 1 || pos - 1 + len > n))
        {
            EXPECT_EQ(hexPos, -1) << "a range outside the text is not read";
        }
        bool ok = Tr::HexToIntPos(s, pos, len, v);
        EXPECT_TRUE(ok || v == 0);

        int count = -1;
        Tr::parseInt(s, pos, count);
        EXPECT_GE(count, 0);
        EXPECT_LE(count, pos < 0 ? 0 : std::max(0, n - pos));
        Tr::parseHex(s, pos, count);
        EXPECT_LE(count, pos < 0 ? 0 : std::max(0, n - pos));

        v = 12345;
        const int used = Tr::parseNumber(s, pos, v);
        const int start = std::max(pos - 1, 0);
        EXPECT_GE(used, 0);
        EXPECT_LE(used, std::max(0, n - start));
        if (used == 0)
        {
            EXPECT_EQ(v, 12345) << "value untouched when nothing was read";
        }
        Tr::parseNumber(s, v);

        std::string target = s;
        Tr::IntToHexLenPos(target, pick(INT_MIN, INT_MAX), len, pos);
        EXPECT_EQ(target.size(), s.size());

        int tokenPos = pos;
        Tr::ExtractTokenizedString(s, tokenPos, '-');
        EXPECT_TRUE(tokenPos == pos || (tokenPos >= 0 && tokenPos <= n));
        Tr::StrStartsWithPos(s, "a", pos, true);
    }
}

TEST(TrParserRandom, WrittenNumbersReadBack)
{
    std::mt19937 rng(7u);
    std::uniform_int_distribution<int> any(INT_MIN, INT_MAX);
    for (int run = 0; run < 3000; ++run)
    {
        const int value = any(rng);
        SCOPED_TRACE(value);
        EXPECT_EQ(Tr::HexToInt(Tr::IntToHex(value, 1)), value);
        EXPECT_EQ(static_cast<unsigned>(Tr::HexToIntD(Tr::LowerCase(Tr::IntToHex(value, 8)), 0)), static_cast<unsigned>(value));
        EXPECT_EQ(Tr::StrToIntDef(std::to_string(value), 0), value);
        int parsed = 0;
        EXPECT_TRUE(Tr::parseNumber(std::to_string(value), parsed));
        EXPECT_EQ(parsed, value);
        if (value >= 0)
        {
            EXPECT_TRUE(Tr::parseNumber("$" + Tr::IntToHex(value, 1), parsed));
            EXPECT_EQ(parsed, value);
        }
    }
}
