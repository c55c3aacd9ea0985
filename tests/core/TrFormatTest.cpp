#include <gtest/gtest.h>

#include "core/TrUtil.h"

#include <string>

using Tr::UString;

TEST(TrFormat, FillsFittingArgumentsLeavesOtherFormatsUnfilledAndCutsWholeCharacters)
{
    EXPECT_EQ(UString::FormatS1("MIDI ERROR %d", -50), "MIDI ERROR -50");
    EXPECT_EQ(UString::FormatS2("Error opening MIDI device '%s':\n%s", "X", "gone"), "Error opening MIDI device 'X':\ngone");
    EXPECT_EQ(UString::FormatS3("%s %d/%d", "ch", 1, 16), "ch 1/16");
    EXPECT_EQ(UString::FormatS6("%s%s%s%s%s%s", "a", "b", "c", "d", "e", "f"), "abcdef");
    EXPECT_EQ(UString::FormatS2("100%% %-4s|%02X", "ab", 10), "100% ab  |0A");
    EXPECT_EQ(UString::FormatS1("%hhd", 5), "5");
    EXPECT_EQ(Tr::Format("%d.%d.%d", 10, 5, 8), "10.5.8");
    EXPECT_EQ(Tr::FtoStr(12.345, 7, 3), "12.3") << "width and decimals are not used";

    // A translated format with a wrong conversion must not make printf read a text as a number
    // or a number as a pointer.
    for (const char* bad : {"%d", "%s and %s", "%1$s", "%ls", "%.*s", "trailing %"})
        EXPECT_EQ(UString::FormatS1(bad, "a"), bad);
    for (const char* bad : {"%s", "count%n", "%*d", "%ld"})
        EXPECT_EQ(UString::FormatS1(bad, 5), bad);
    EXPECT_EQ(UString::FormatS2("%d %s", "a", 1), "%d %s");

    // A long result is cut to the buffer without splitting a character.
    const int limit = UString::FormatBufferSize - 1;
    const std::string longText(5000, 'a');
    EXPECT_EQ(UString::FormatS1("%s", longText), longText.substr(0, limit));
    EXPECT_EQ(Tr::Format("%s", longText.c_str()).size(), static_cast<size_t>(limit));

    const std::string fill(limit - 2, 'a');
    EXPECT_EQ(UString::FormatS2("%s%s", fill + "a", "\xC3\xA9"), fill + "a") << "a character that does not fit is dropped whole";
    EXPECT_EQ(UString::FormatS2("%s%s", fill, "\xC3\xA9"), fill + "\xC3\xA9") << "one that fits exactly stays";
    EXPECT_EQ(UString::FormatS2("%s%s", fill, "\xE2\x82\xAC"), fill);
    EXPECT_EQ(UString::FormatS2("%s%s", fill + "a", "\xF0\x9F\x8E\xB9"), fill + "a");
}
