#include "TextHelpers.h"
#include "TempFolder.h"

#include "core/TrStringList.h"

#include <gtest/gtest.h>

#include <random>

using Tr::TStringList;

TEST(StringList, KeyValueViewReadsBlanksQuotesEscapesAndCommentsAndTagsMoveWithTheirLines)
{
    TStringList list = ListOf({
        "  name = value  ",
        "\"a b\" junk = \"x\\ty\" more",
        "; c=1",
        "=nokey",
        "\"\" = empty quoted key",
        "no equals sign",
        "k=",
        "\"unclosed=1",
        "q = \"open",
        "\"ends\\",
        "esc=\"\\a\\b\\t\\n\\r\\\"\\\\\\z\"",
        "raw = back\\slash \"kept\"",
        "long=" + std::string(9000, 'x'),
        std::string("z=ab\0cd", 7),
    });

    EXPECT_EQ(list.GetValue("name"), "value  ") << "blanks before the value go, trailing ones stay";
    EXPECT_EQ(list.GetValue("a b"), "x\ty") << "quoted key and value, text around them ignored";
    EXPECT_FALSE(list.KeyExists("; c")) << "comment line";
    EXPECT_FALSE(list.KeyExists("")) << "an empty key is never stored";
    EXPECT_TRUE(list.KeyExists("k"));
    EXPECT_FALSE(list.KeyExists("\"unclosed")) << "unfinished quoted key";
    EXPECT_FALSE(list.KeyExists("unclosed"));
    EXPECT_FALSE(list.KeyExists("q")) << "unfinished quoted value drops the whole line";
    EXPECT_FALSE(list.KeyExists("ends"));
    EXPECT_EQ(list.GetValue("esc"), std::string("\x07\x08\x09\x0a\x0d\"\\z"));
    EXPECT_EQ(list.GetValue("raw"), "back\\slash \"kept\"") << "no unescaping outside quotes";
    EXPECT_EQ(list.GetValue("long").size(), 8000u - 5u) << "only the first 8000 characters count";
    EXPECT_EQ(list.GetValue("z"), "ab") << "a zero byte ends the line for the view";
    EXPECT_EQ(list.GetValue("absent"), "");
    // A caller that rewrites a line itself throws the view away itself.
    list[0].FText = "name=changed";
    list.ClearValues();
    EXPECT_EQ(list.GetValue("name"), "changed");

    TStringList tagged;
    tagged.Add("b", 2);
    tagged.Add("a", 1);
    tagged.Sort();
    tagged.Add(tagged);
    EXPECT_EQ(LinesOf(tagged), Lines({"a", "b", "a", "b"})) << "sorted, and a list added to itself once";
    EXPECT_EQ(tagged.GetTag(3), 2) << "tags move with their lines";
}

TEST(StringList, KeyOperationsGiveWhatAFullReadingOfTheLinesGives)
{
    // Keys whose lines read back under another key or under none, beside plain keys in two cases.
    const Lines keys = {"a", "A", " b", "b", "c=d", "c", ";e", "", "\"q\"", "q"};
    const Lines values = {"1", "", " padded", "\"quoted\"", "x=y"};
    TStringList list = ListOf({"a=first", "; note", "b=2", "a=second"});
    // The same steps the plain way: the first line of the key found by reading all lines afresh.
    TStringList plain = ListOf(LinesOf(list));
    std::mt19937 random(16);
    auto pick = [&random](const Lines& from) -> const std::string& { return from[random() % from.size()]; };
    for (int step = 0; step < 3000; ++step) {
        const std::string& key = pick(keys);
        const int first = plain.ParseValues(&key);
        switch (random() % 5) {
        case 0:
            list.Add(key + "=added", 0);
            plain.Add(key + "=added", 0);
            break;
        case 1:
            ASSERT_EQ(list.DeleteKey(key), first >= 0) << "step " << step;
            if (first >= 0)
                plain.Delete(first);
            break;
        default:
            const std::string& value = pick(values);
            list.SetValue(key, value);
            if (first >= 0)
                plain.Delete(first);
            plain.Add(key + "=" + value, 0);
        }
        for (const std::string& k : keys) {
            ASSERT_EQ(list.KeyExists(k), plain.KeyExists(k)) << "step " << step << ", key '" << k << "'";
            ASSERT_EQ(list.GetValue(k), plain.GetValue(k)) << "step " << step << ", key '" << k << "'";
        }
        // Now and then, as a save does, the lines are read by index in the middle of the changes.
        if (step % 97 == 0) {
            ASSERT_EQ(LinesOf(list), LinesOf(plain)) << "step " << step;
        }
    }
    EXPECT_EQ(LinesOf(list), LinesOf(plain));
    EXPECT_EQ(list.GetText(), plain.GetText());
}

TEST(StringList, SetTextBreaksLinesAndHonoursTheLength)
{
    struct Case { const char* text; int len; Lines lines; };
    for (const Case& c : {Case{"a\r\nb\n\nc", -1, {"a", "b", "", "c"}}, Case{"a\n", -1, {"a"}}, Case{"", -1, {}},
                          Case{"\r\r", -1, {"", ""}}, Case{nullptr, 5, {}}, Case{"abcdef", 3, {"abc"}},
                          Case{"ab\0cd", -1, {"ab"}}, Case{"ab\r\ncd", 3, {"ab"}}, Case{"ab\r\ncd", 5, {"ab", "c"}},
                          Case{"abc", 0, {}}})
    {
        TStringList list = ListOf({"old"});
        list.SetText(c.text, c.len);
        EXPECT_EQ(LinesOf(list), c.lines) << (c.text ? c.text : "null") << " with length " << c.len;
    }

    TStringList list = ListOf({"k=1"});
    EXPECT_TRUE(list.KeyExists("k"));
    list.SetText(std::string("ab\0cd\nk=2", 9));
    EXPECT_EQ(LinesOf(list), Lines({std::string("ab\0cd", 5), "k=2"})) << "the string form keeps zero bytes";
    EXPECT_EQ(list.GetValue("k"), "2") << "new text throws the old view away";
}

TEST(StringList, LoadsAndSavesFilesAndReportsFailures)
{
    TempFolder dir;
    const std::string file = dir / "list.txt";
    TStringList list = ListOf({"one", "", "two=2"});
    EXPECT_TRUE(list.SaveToFile(file, 1));
    EXPECT_EQ(TempFolder::readFile(file), "one\n\ntwo=2\n");
    TStringList back;
    EXPECT_TRUE(back.LoadFromFile(file, 1));
    EXPECT_EQ(LinesOf(back), LinesOf(list));

    const std::string missing = dir / "missing.txt";
    EXPECT_FALSE(back.LoadFromFile(missing, 0));
    EXPECT_EQ(back.Count(), 3) << "a failed load keeps the lines";
    EXPECT_EQ(ErrorText([&] { back.LoadFromFile(missing, 1); }), "error opening file: " + missing + ": No such file or directory");

    const std::string noFolder = dir / "no/such/list.txt";
    EXPECT_FALSE(list.SaveToFile(noFolder, 0));
    EXPECT_EQ(ErrorText([&] { list.SaveToFile(noFolder, 1); }),
              "could not open file " + noFolder + " for writing: No such file or directory");
    EXPECT_EQ(ErrorText([&] { list.SaveToFile("/dev/full", 1); }), "not a regular file (device): /dev/full")
        << "a device is never written in place";
    // A disk that fills up while the new text is written.
    ScopedFileSizeLimit limit(4096);
    EXPECT_EQ(ErrorText([&] { ListOf({std::string(100000, 'x')}).SaveToFile(file, 1); }),
              "Cannot write to file: " + file + ": File too large");
}
