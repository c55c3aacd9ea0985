// Random bytes through the text readers: bounded and with fixed seeds, so every run is the same.
// Besides the checks below, the sanitizer build catches any read outside the input.
#include "core/TrException.h"
#include "core/TrIniFile.h"
#include "core/TrStringList.h"
#include "core/TrUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <random>
#include <vector>

namespace {

constexpr int kRuns = 3000;

// Mostly the bytes the readers react to, some of any value.
std::string randomText(std::mt19937& rng, size_t maxLen, const std::string& special = std::string("=\"\\;[] \t\r\n\0abAB09fF", 19))
{
    std::string s(std::uniform_int_distribution<size_t>(0, maxLen)(rng), ' ');
    for (char& c : s)
        c = rng() % 4 == 0 ? (char)(rng() % 256) : special[rng() % special.size()];
    return s;
}

} // namespace

TEST(RandomInput, HexAndNumberReadersStayInsideTheirInput)
{
    std::mt19937 rng(20240611u);
    for (int run = 0; run < kRuns; ++run)
    {
        const std::string s = randomText(rng, 24, "0123456789abcdefABCDEFxX$+- g");
        const int n = (int)s.size();
        const int pos = (int)(rng() % (unsigned)(n + 9)) - 4;
        const int len = (int)(rng() % 34) - 3;
        SCOPED_TRACE("run " + std::to_string(run) + " pos " + std::to_string(pos) + " len " + std::to_string(len));

        if (len >= 1 && (pos < 1 || pos - 1 + len > n)) {
            EXPECT_EQ(Tr::HexToIntPos(s, pos, len), -1) << "a range outside the text is not read";
        }
        int v = 1;
        EXPECT_TRUE(Tr::HexToIntPos(s, pos, len, v) || v == 0);
        int count = -1;
        Tr::parseInt(s, pos, count);
        EXPECT_TRUE(count >= 0 && count <= (pos < 0 ? 0 : std::max(0, n - pos))) << "count " << count;
        v = 12345;
        const int used = Tr::parseNumber(s, pos, v);
        EXPECT_TRUE(used >= 0 && used <= std::max(0, n - std::max(pos - 1, 0))) << "used " << used;
        EXPECT_TRUE(used > 0 || v == 12345) << "value changed although nothing was read";
        std::string target = s;
        Tr::IntToHexLenPos(target, (int)rng(), len, pos);
        EXPECT_EQ(target.size(), s.size());

        const int value = (int)rng();
        EXPECT_EQ(Tr::HexToInt(Tr::IntToHex(value, 1)), value);
        EXPECT_TRUE(Tr::parseNumber(std::to_string(value), v) && v == value);
    }
}

TEST(RandomInput, StringListTextAndValues)
{
    std::mt19937 rng(20240611);
    for (int run = 0; run < kRuns; ++run) {
        const std::string text = randomText(rng, 200);
        Tr::TStringList list;
        list.SetText(text.c_str(), (int)text.size());

        const std::string cut = text.substr(0, text.find('\0'));
        for (int i = 0; i < list.Count(); ++i)
            ASSERT_EQ(list.Get(i).find_first_of(std::string("\r\n\0", 3)), std::string::npos) << "run " << run;
        // Without CRs, joining the lines with LF gives the text back (plus a last LF).
        if (cut.find('\r') == std::string::npos) {
            ASSERT_EQ(list.GetText(), cut.empty() || cut.back() == '\n' ? cut : cut + '\n') << "run " << run;
        }

        // The view agrees with reading each line on its own: a key found in line i is found
        // first at or before i, and its value is that of the last line holding it.
        std::vector<Tr::TStringList> single((size_t)list.Count());
        for (int i = 0; i < list.Count(); ++i)
            single[(size_t)i].Add(list.Get(i), 0);
        for (int i = 0; i < list.Count(); ++i) {
            const std::string key = single[(size_t)i].GetKey(0);
            if (!single[(size_t)i].KeyExists(key))
                continue;
            ASSERT_TRUE(list.KeyExists(key)) << "run " << run << " line " << i;
            const int first = list.ParseValues(&key);
            ASSERT_TRUE(first >= 0 && first <= i) << "run " << run;
            int last = list.Count() - 1;
            while (!single[(size_t)last].KeyExists(key))
                --last;
            ASSERT_EQ(list.GetValue(key), single[(size_t)last].GetValue(key)) << "run " << run << " line " << i;
        }
    }
}

TEST(RandomInput, IniParseIsStableThroughItsOwnText)
{
    std::mt19937 rng(77);
    for (int run = 0; run < kRuns; ++run) {
        std::string text;
        for (int i = 0, n = (int)(rng() % 12); i < n; ++i)
            text += rng() % 3 == 0 ? "[" + randomText(rng, 4) + "]\n" : randomText(rng, 12) + "\n";
        Tr::TStringList lines;
        lines.SetText(text);
        Tr::TIniFile ini("unused.ini");
        ini.ParseStrings(lines);
        for (const auto& section : ini.GetSections())
            ASSERT_GE(section.first.size(), 2u) << "run " << run;

        Tr::TStringList written;
        ini.GetStrings(written);
        Tr::TIniFile again("unused.ini");
        again.ParseStrings(written);
        const auto a = ini.GetSections();
        const auto b = again.GetSections();
        ASSERT_EQ(a.size(), b.size()) << "run " << run;
        for (auto ia = a.begin(), ib = b.begin(); ia != a.end(); ++ia, ++ib) {
            ASSERT_EQ(ia->first, ib->first) << "run " << run;
            ASSERT_EQ(ia->second.GetText(), ib->second.GetText()) << "run " << run;
        }
    }
}

TEST(RandomInput, DecodeStringFromIniFile)
{
    std::mt19937 rng(4711);
    int decoded = 0;
    for (int run = 0; run < kRuns; ++run) {
        std::string s = randomText(rng, 40);
        if (run % 2 == 0) {
            // A field that is well-formed or damaged only at its end, so decoding succeeds often.
            const std::string inner = randomText(rng, 20);
            s = Tr::EncodeStringForIniFile(inner) + inner.substr(0, rng() % 3 == 0 ? inner.size() / 2 : inner.size());
        }
        const int pos = run % 2 == 0 && rng() % 2 == 0 ? 0 : (int)(rng() % (s.size() + 3)) - 1;
        std::string out;
        try {
            const int used = Tr::DecodeStringFromIniFile(s, pos, out);
            ++decoded;
            ASSERT_GE(pos, 0) << "run " << run;
            ASSERT_EQ(used, (int)out.size() + 4) << "run " << run;
            ASSERT_LE(pos + used, (int)s.size()) << "run " << run;
            ASSERT_EQ(out, s.substr((size_t)pos + 4, out.size())) << "run " << run;
            std::string digits = s.substr((size_t)pos, 4);
            std::transform(digits.begin(), digits.end(), digits.begin(), [](unsigned char c) { return (char)toupper(c); });
            ASSERT_EQ(Tr::EncodeStringForIniFile(out).substr(0, 4), digits) << "run " << run;
        } catch (const Tr::Exception& e) {
            ASSERT_STREQ(e.what(), "illegal ini format") << "run " << run;
        }

        const std::string inner = randomText(rng, 50);
        ASSERT_EQ(Tr::DecodeStringFromIniFile(Tr::EncodeStringForIniFile(inner), 0, out), (int)inner.size() + 4);
        ASSERT_EQ(out, inner) << "run " << run;
    }
    EXPECT_GT(decoded, kRuns / 10) << "the generator should also make valid fields";
}
