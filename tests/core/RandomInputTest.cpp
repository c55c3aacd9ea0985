// Random bytes through the text readers: bounded and with a fixed seed, so every run is the same.
#include "core/TrException.h"
#include "core/TrIniFile.h"
#include "core/TrStringList.h"

#include <gtest/gtest.h>

#include <cctype>
#include <vector>
#include <random>

namespace {

constexpr int kRuns = 3000;

// Mostly the bytes the readers react to, some of any value.
std::string randomText(std::mt19937& rng, size_t maxLen)
{
    static const char special[] = "=\"\\;[] \t\r\n\0abAB09fF";
    std::uniform_int_distribution<size_t> len(0, maxLen);
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> pick(0, (int)sizeof special - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string s(len(rng), ' ');
    for (char& c : s)
        c = kind(rng) == 0 ? (char)byte(rng) : special[pick(rng)];
    return s;
}

} // namespace

TEST(RandomInput, StringListTextAndValues)
{
    std::mt19937 rng(20240611);
    for (int run = 0; run < kRuns; ++run) {
        const std::string text = randomText(rng, 200);
        Tr::TStringList list;
        list.SetText(text.c_str(), (int)text.size());

        const size_t zero = text.find('\0');
        const std::string cut = text.substr(0, zero);
        for (int i = 0; i < list.Count(); ++i) {
            ASSERT_EQ(list.Get(i).find_first_of("\r\n"), std::string::npos) << "run " << run;
            ASSERT_EQ(list.Get(i).find('\0'), std::string::npos) << "run " << run;
        }
        // Without CRs, joining the lines with LF gives the text back (plus a last LF).
        if (cut.find('\r') == std::string::npos) {
            std::string expected = cut;
            if (!expected.empty() && expected.back() != '\n')
                expected += '\n';
            ASSERT_EQ(list.GetText(), expected) << "run " << run;
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
            ASSERT_FALSE(key.empty());
            ASSERT_TRUE(list.KeyExists(key)) << "run " << run << " line " << i;
            const int first = list.ParseValues(&key);
            ASSERT_GE(first, 0) << "run " << run;
            ASSERT_LE(first, i) << "run " << run;
            int last = list.Count() - 1;
            while (!single[(size_t)last].KeyExists(key))
                --last;
            ASSERT_EQ(list.GetValue(key), single[(size_t)last].GetValue(key)) << "run " << run << " line " << i;
        }
        const std::string probe = randomText(rng, 4);
        const std::string& value = list.GetValue(probe);
        ASSERT_EQ(list.KeyExists(probe) || value.empty(), true) << "run " << run;
    }
}

TEST(RandomInput, IniParseIsStableThroughItsOwnText)
{
    std::mt19937 rng(77);
    for (int run = 0; run < kRuns; ++run) {
        Tr::TStringList lines;
        std::string text;
        for (int i = 0, n = (int)(rng() % 12); i < n; ++i) {
            if (rng() % 3 == 0)
                text += "[" + randomText(rng, 4) + "]\n";
            else
                text += randomText(rng, 12) + "\n";
        }
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
        std::string out = "untouched";
        try {
            const int used = Tr::DecodeStringFromIniFile(s, pos, out);
            ++decoded;
            ASSERT_GE(pos, 0) << "run " << run;
            ASSERT_EQ(used, (int)out.size() + 4) << "run " << run;
            ASSERT_LE(pos + used, (int)s.size()) << "run " << run;
            ASSERT_EQ(out, s.substr((size_t)pos + 4, out.size())) << "run " << run;
            std::string digits = s.substr((size_t)pos, 4);
            for (char& c : digits)
                c = (char)toupper((unsigned char)c);
            ASSERT_EQ(Tr::EncodeStringForIniFile(out).substr(0, 4), digits) << "run " << run;
        } catch (const Tr::Exception& e) {
            ASSERT_STREQ(e.what(), "illegal ini format") << "run " << run;
        }

        const std::string inner = randomText(rng, 50);
        std::string back;
        ASSERT_EQ(Tr::DecodeStringFromIniFile(Tr::EncodeStringForIniFile(inner), 0, back), (int)inner.size() + 4);
        ASSERT_EQ(back, inner) << "run " << run;
    }
    EXPECT_GT(decoded, kRuns / 10) << "the generator should also make valid fields";
}
