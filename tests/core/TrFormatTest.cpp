#include <gtest/gtest.h>

#include "core/TrUtil.h"

#include <string>

using Tr::UString;

TEST(TrFormat, FillsArgumentsOfEveryOverload)
{
    EXPECT_EQ(UString::FormatS1("port %s", "A"), "port A");
    EXPECT_EQ(UString::FormatS1("MIDI ERROR %d", -50), "MIDI ERROR -50");
    EXPECT_EQ(UString::FormatS2("%s (%d)", "Port", 2), "Port (2)");
    EXPECT_EQ(UString::FormatS2("Error opening MIDI device '%s':\n%s", "X", "gone"), "Error opening MIDI device 'X':\ngone");
    EXPECT_EQ(UString::FormatS3("%s %d/%d", "ch", 1, 16), "ch 1/16");
    EXPECT_EQ(UString::FormatS3("%s-%s-%s", "a", "b", "c"), "a-b-c");
    EXPECT_EQ(UString::FormatS4("%s%s%s%s", "a", "b", "c", "d"), "abcd");
    EXPECT_EQ(UString::FormatS5("%s%s%s%s%s", "a", "b", "c", "d", "e"), "abcde");
    EXPECT_EQ(UString::FormatS6("%s%s%s%s%s%s", "a", "b", "c", "d", "e", "f"), "abcdef");
    EXPECT_EQ(UString::FormatS1("100%% %5s|", "x"), "100%     x|");
    EXPECT_EQ(UString::FormatS2("%-4s|%02X", "ab", 10), "ab  |0A");
    EXPECT_EQ(UString::FormatS1("%hhd", 5), "5");
    EXPECT_EQ(UString::FormatS1("no conversion", "unused"), "no conversion");
    EXPECT_EQ(Tr::Format("%d.%d.%d", 10, 5, 8), "10.5.8");
    EXPECT_EQ(UString::FromInt(-12), "-12");
    EXPECT_EQ(Tr::FtoStr(12.345, 7, 3), "12.3") << "width and decimals are not used";
    EXPECT_EQ(Tr::FtoStr(-100.0, 0, 0), "-100.0");
}

TEST(TrFormat, FormatThatDoesNotFitItsArgumentsIsReturnedUnfilled)
{
    // A translated format with a wrong conversion must not make printf read a text as a number
    // or a number as a pointer.
    EXPECT_EQ(UString::FormatS1("%d", "abc"), "%d");
    EXPECT_EQ(UString::FormatS1("%s", 5), "%s");
    EXPECT_EQ(UString::FormatS1("%s and %s", "a"), "%s and %s");
    EXPECT_EQ(UString::FormatS1("count%n", 5), "count%n");
    EXPECT_EQ(UString::FormatS1("%*d", 5), "%*d");
    EXPECT_EQ(UString::FormatS1("%ld", 5), "%ld");
    EXPECT_EQ(UString::FormatS1("%1$s", "a"), "%1$s");
    EXPECT_EQ(UString::FormatS1("%ls", "a"), "%ls");
    EXPECT_EQ(UString::FormatS1("%.*s", "a"), "%.*s");
    EXPECT_EQ(UString::FormatS1("trailing %", "a"), "trailing %");
    EXPECT_EQ(UString::FormatS2("%d %s", "a", 1), "%d %s");
}

TEST(TrFormat, LongResultIsCutToTheBufferWithoutSplittingACharacter)
{
    const int limit = UString::FormatBufferSize - 1;
    const std::string longText(5000, 'a');
    std::string r = UString::FormatS1("%s", longText);
    EXPECT_EQ(r.size(), static_cast<size_t>(limit));
    EXPECT_EQ(r, longText.substr(0, limit));

    r = UString::FormatS2("%s%s", std::string(limit - 1, 'a'), "\xC3\xA9");
    EXPECT_EQ(r, std::string(limit - 1, 'a')) << "a two-byte character that does not fit is dropped whole";
    r = UString::FormatS2("%s%s", std::string(limit - 2, 'a'), "\xC3\xA9");
    EXPECT_EQ(r.size(), static_cast<size_t>(limit)) << "one that fits exactly stays";
    r = UString::FormatS2("%s%s", std::string(limit - 2, 'a'), "\xE2\x82\xAC");
    EXPECT_EQ(r, std::string(limit - 2, 'a'));
    r = UString::FormatS2("%s%s", std::string(limit - 1, 'a'), "\xF0\x9F\x8E\xB9");
    EXPECT_EQ(r, std::string(limit - 1, 'a'));
    EXPECT_EQ(Tr::Format("%s", longText.c_str()).size(), static_cast<size_t>(limit));
}
