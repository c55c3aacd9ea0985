#include "TempFolder.h"

#include "core/TrException.h"
#include "core/TrStringList.h"

#include <gtest/gtest.h>

using Tr::TStringList;

namespace {

TStringList listOf(std::initializer_list<std::string> lines)
{
    TStringList list;
    for (const auto& line : lines)
        list.Add(line, 0);
    return list;
}

std::vector<std::string> linesOf(const TStringList& list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back(list.Get(i));
    return out;
}

using Lines = std::vector<std::string>;

} // namespace

TEST(StringList, KeyValueViewReadsBlanksQuotesEscapesAndComments)
{
    TStringList list = listOf({
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
        "\tkey2\t=\t v",
    });

    EXPECT_EQ(list.GetValue("name"), "value  ") << "blanks before the value go, trailing ones stay";
    EXPECT_EQ(list.GetValue("a b"), "x\ty") << "quoted key and value, text around them ignored";
    EXPECT_FALSE(list.KeyExists("; c")) << "comment line";
    EXPECT_FALSE(list.KeyExists("c"));
    EXPECT_FALSE(list.KeyExists("")) << "an empty key is never stored";
    EXPECT_TRUE(list.KeyExists("k"));
    EXPECT_EQ(list.GetValue("k"), "");
    EXPECT_FALSE(list.KeyExists("\"unclosed")) << "unfinished quoted key";
    EXPECT_FALSE(list.KeyExists("unclosed"));
    EXPECT_FALSE(list.KeyExists("q")) << "unfinished quoted value drops the whole line";
    EXPECT_FALSE(list.KeyExists("ends"));
    EXPECT_EQ(list.GetValue("esc"), std::string("\x07\x08\x09\x0a\x0d\"\\z"));
    EXPECT_EQ(list.GetValue("raw"), "back\\slash \"kept\"") << "no unescaping outside quotes";
    EXPECT_EQ(list.GetValue("key2"), "v");
    EXPECT_EQ(list.GetValue("absent"), "");
    EXPECT_FALSE(list.KeyExists("absent"));
    EXPECT_EQ(list.ParseValues(), -1);
}

TEST(StringList, ViewCutsLongLinesAndZeroBytes)
{
    TStringList list;
    list.Add("long=" + std::string(9000, 'x'), 0);
    list.Add(std::string("z=ab\0cd", 7), 0);
    EXPECT_EQ(list.GetValue("long").size(), 8000u - 5u) << "only the first 8000 characters count";
    EXPECT_EQ(list.GetValue("z"), "ab") << "a zero byte ends the line for the view";
}

TEST(StringList, DuplicateKeysSetValueAndDeleteKey)
{
    TStringList dup = listOf({"a=1", "a=2"});
    EXPECT_EQ(dup.GetValue("a"), "2") << "the last line wins";
    const std::string a = "a";
    EXPECT_EQ(dup.ParseValues(&a), 0) << "the first line with the key is found";
    EXPECT_EQ(dup.ParseValues(nullptr), -1);
    EXPECT_TRUE(dup.DeleteKey("a"));
    EXPECT_EQ(linesOf(dup), Lines({"a=2"}));
    EXPECT_FALSE(dup.DeleteKey("b"));

    TStringList set = listOf({"a=1", "b=2"});
    EXPECT_EQ(set.GetValue("a"), "1");
    set.SetValue("a", "3");
    EXPECT_EQ(linesOf(set), Lines({"b=2", "a=3"})) << "a key set again moves to the end";
    EXPECT_EQ(set.GetValue("a"), "3") << "the view was thrown away by the change";
    set.SetValue("c", " padded");
    set.SetValue("d", "\"quoted\" rest");
    EXPECT_EQ(set.Get(2), "c= padded") << "values are written raw";
    EXPECT_EQ(set.GetValue("c"), "padded");
    EXPECT_EQ(set.GetValue("d"), "quoted");
    EXPECT_EQ(set[0].FTag, 0);

    // A caller that rewrites a line itself throws the view away itself.
    set[0].FText = "b=9";
    set.ClearValues();
    EXPECT_EQ(set.GetValue("b"), "9");
}

TEST(StringList, SetTextBreaksLinesAndHonoursTheLength)
{
    TStringList list;
    list.SetText("a\r\nb\n\nc", -1);
    EXPECT_EQ(linesOf(list), Lines({"a", "b", "", "c"}));
    list.SetText("a\n", -1);
    EXPECT_EQ(linesOf(list), Lines({"a"}));
    list.SetText("x", -1);
    EXPECT_EQ(linesOf(list), Lines({"x"}));
    list.SetText("", -1);
    EXPECT_EQ(list.Count(), 0);
    list.SetText("\r\r", -1);
    EXPECT_EQ(linesOf(list), Lines({"", ""}));
    list.SetText(nullptr, 5);
    EXPECT_EQ(list.Count(), 0);

    list.SetText("abcdef", 3);
    EXPECT_EQ(linesOf(list), Lines({"abc"}));
    list.SetText("ab\0cd", -1);
    EXPECT_EQ(linesOf(list), Lines({"ab"})) << "a zero byte ends the text";
    list.SetText("ab\r\ncd", 3);
    EXPECT_EQ(linesOf(list), Lines({"ab"})) << "the LF behind a CR at the limit is not read";
    list.SetText("ab\r\ncd", 4);
    EXPECT_EQ(linesOf(list), Lines({"ab"}));
    list.SetText("ab\r\ncd", 5);
    EXPECT_EQ(linesOf(list), Lines({"ab", "c"}));
    list.SetText("abc", 0);
    EXPECT_EQ(list.Count(), 0);

    list.SetText(std::string("ab\0cd\nx", 7));
    EXPECT_EQ(linesOf(list), Lines({std::string("ab\0cd", 5), "x"})) << "the string form keeps zero bytes";
    for (int i = 0; i < list.Count(); ++i)
        EXPECT_EQ(list.GetTag(i), 0);

    list.Add("k=1", 0);
    EXPECT_TRUE(list.KeyExists("k"));
    list.SetText(std::string("k=2"));
    EXPECT_EQ(list.GetValue("k"), "2");
}

TEST(StringList, LookupsCopiesSortingAndText)
{
    TStringList list = listOf({"  key  = v", "; note", "Beta", "alpha"});
    EXPECT_EQ(list.GetKey(0), "key");
    EXPECT_EQ(list.GetKey(1), "; note");
    EXPECT_EQ(list.GetKey(2), "Beta");
    EXPECT_EQ(list.IndexOf("beta"), -1);
    EXPECT_EQ(list.IndexOf("Beta"), 2);
    EXPECT_EQ(list.IndexOfIgnoreCase("BETA"), 2);
    EXPECT_EQ(list.IndexOfIgnoreCase("gamma"), -1);
    EXPECT_FALSE(list.AddIfNotExists("ALPHA", 1));
    EXPECT_TRUE(list.AddIfNotExists("ALPHA", 0));
    EXPECT_EQ(list.Count(), 5);

    TStringList tagged;
    tagged.Add("b", 2);
    tagged.Add("a", 1);
    tagged.Add("ab", 3);
    tagged.Sort();
    EXPECT_EQ(linesOf(tagged), Lines({"a", "ab", "b"}));
    EXPECT_EQ(tagged.GetTag(0), 1) << "tags move with their lines";
    EXPECT_EQ(tagged.GetTag(1), 3);
    EXPECT_EQ(tagged.GetTag(2), 2);

    TStringList copy = listOf({"x"});
    copy.Add(tagged);
    EXPECT_EQ(linesOf(copy), Lines({"x", "a", "ab", "b"}));
    EXPECT_EQ(copy.GetTag(3), 2);
    copy.Add(copy);
    EXPECT_EQ(copy.Count(), 8) << "adding a list to itself appends one copy";
    copy.Assign(tagged);
    EXPECT_EQ(linesOf(copy), linesOf(tagged));

    TStringList text = listOf({"a", "b"});
    EXPECT_EQ(text.GetText(), "a\nb\n");
    EXPECT_EQ(text.GetTextLen(2), 6);
    EXPECT_EQ(TStringList().GetText(), "");
    EXPECT_EQ(TStringList().GetTextLen(2), 0);

    text.SetCapacity(100);
    EXPECT_GE(text.GetCapacity(), 100);
    text.SetCapacity(1);
    EXPECT_GE(text.GetCapacity(), 100) << "the capacity never shrinks";
}

TEST(StringList, LoadsAndSavesFiles)
{
    TempFolder dir;
    const std::string file = dir / "list.txt";

    TStringList list = listOf({"one", "", "two=2"});
    EXPECT_TRUE(list.SaveToFile(file, 1));
    EXPECT_EQ(TempFolder::readFile(file), "one\n\ntwo=2\n");

    TStringList back;
    EXPECT_TRUE(back.LoadFromFile(file, 1));
    EXPECT_EQ(linesOf(back), linesOf(list));
    EXPECT_EQ(back.GetValue("two"), "2");

    // Saving through a link replaces the file it points to and keeps the link.
    const std::string link = dir / "link.txt";
    std::filesystem::create_symlink(file, link);
    EXPECT_TRUE(listOf({"via link"}).SaveToFile(link, 1));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(TempFolder::readFile(file), "via link\n");

    const std::string missing = dir / "missing.txt";
    EXPECT_FALSE(back.LoadFromFile(missing, 0));
    EXPECT_EQ(back.Count(), 3) << "a failed load keeps the lines";
    try {
        back.LoadFromFile(missing, 1);
        ADD_FAILURE() << "no exception for a missing file";
    } catch (const Tr::Exception& e) {
        EXPECT_STREQ(e.what(), ("error opening file: : " + missing).c_str());
    }
}

TEST(StringList, FailedSavesAreReportedAndKeepTheOldFile)
{
    TempFolder dir;
    TStringList list = listOf({"content"});

    // A missing parent folder: the file cannot be created.
    const std::string noFolder = dir / "no/such/list.txt";
    EXPECT_FALSE(list.SaveToFile(noFolder, 0));
    try {
        list.SaveToFile(noFolder, 1);
        ADD_FAILURE() << "no exception for a missing folder";
    } catch (const Tr::Exception& e) {
        EXPECT_STREQ(e.what(), ("could not open file " + noFolder + " for writing").c_str());
    }

    // A folder where the file should be.
    EXPECT_FALSE(list.SaveToFile(dir.path(), 0));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path()));

    // A device that is always full: the write itself fails.
    EXPECT_FALSE(list.SaveToFile("/dev/full", 0));
    try {
        list.SaveToFile("/dev/full", 1);
        ADD_FAILURE() << "a write to a full device was reported as success";
    } catch (const Tr::Exception& e) {
        EXPECT_STREQ(e.what(), "Cannot write to file: /dev/full");
    }

    // A disk that fills up while the new text is written.
    const std::string file = dir / "list.txt";
    ASSERT_TRUE(list.SaveToFile(file, 1));
    TStringList big;
    big.Add(std::string(100000, 'x'), 0);
    {
        ScopedFileSizeLimit limit(4096);
        EXPECT_FALSE(big.SaveToFile(file, 0));
        EXPECT_THROW(big.SaveToFile(file, 1), Tr::Exception);
    }
    EXPECT_EQ(TempFolder::readFile(file), "content\n") << "the old file must survive a failed save";
    EXPECT_EQ(dir.entryCount(), 1) << "no temporary file may be left behind";
}
