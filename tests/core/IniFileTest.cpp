#include "TempFolder.h"

#include "core/TrException.h"
#include "core/TrIniFile.h"

#include <gtest/gtest.h>

using Tr::TIniFile;
using Tr::TStringList;

namespace {

TIniFile parse(const std::string& text)
{
    TStringList lines;
    lines.SetText(text);
    TIniFile ini("unused.ini");
    ini.ParseStrings(lines);
    return ini;
}

std::vector<std::string> sectionLines(const TIniFile& ini, const std::string& section)
{
    TStringList lines;
    ini.ReadSectionEntries(section, lines);
    std::vector<std::string> out;
    for (int i = 0; i < lines.Count(); ++i)
        out.push_back(lines.Get(i));
    return out;
}

std::vector<std::string> sectionNames(const TIniFile& ini)
{
    std::vector<std::string> out;
    for (const auto& entry : ini.GetSections())
        out.push_back(entry.first);
    return out;
}

using Lines = std::vector<std::string>;

} // namespace

TEST(IniFile, SectionsAndHeaders)
{
    EXPECT_EQ(sectionLines(parse("[ab]\nx=1\n"), "ab"), Lines({"x=1"}));
    EXPECT_TRUE(parse("[a]\nx=1\n").GetSections().empty()) << "a one-character name is no header";
    EXPECT_TRUE(parse("[]\nx=1\n").GetSections().empty());
    EXPECT_TRUE(parse("x=1\n").GetSections().empty()) << "lines before the first header are dropped";
    EXPECT_TRUE(parse("[ab]\n").GetSections().empty()) << "a header alone makes no section";

    TIniFile ini = parse("x=0\n[ab]\nx=1\n[ab] \n [cd]\n\n; note\n[c d]]\ny=2\n[ab]\nz=3\n[AB]\nx=4\n");
    EXPECT_EQ(sectionNames(ini), Lines({"AB", "ab", "c d]"}));
    EXPECT_EQ(sectionLines(ini, "ab"), Lines({"x=1", "[ab] ", " [cd]", "", "; note", "z=3"}))
        << "blanks around brackets make ordinary lines; a repeated header continues its section";
    EXPECT_EQ(ini.ReadString("c d]", "y", ""), "2") << "names keep blanks and inner brackets";
    EXPECT_EQ(ini.ReadString("ab", "x", ""), "1");
    EXPECT_EQ(ini.ReadString("AB", "x", ""), "4") << "section names are case-sensitive";
    EXPECT_TRUE(ini.SectionExists("ab"));
    EXPECT_FALSE(ini.SectionExists("cd"));

    TIniFile keys = parse("[sec]\nKey=1\nkey=2\n");
    EXPECT_EQ(keys.ReadString("sec", "Key", ""), "1") << "keys are case-sensitive";
    EXPECT_EQ(keys.ReadString("sec", "key", ""), "2");
    EXPECT_TRUE(keys.ValueExists("sec", "key"));
    EXPECT_FALSE(keys.ValueExists("sec", "KEY"));
    EXPECT_FALSE(keys.ValueExists("nosec", "key"));
}

TEST(IniFile, TypedReadsAndWrites)
{
    TIniFile ini = parse("[nn]\na=12abc\nb=abc\nc=-7\nd=\ne=  42\n"
                         "[bb]\ny1=yes\ny2=Y\ny3=true\ny4=T\ny5=1\nn1=no\nn2=false\nn3=0\nn4=\n");
    EXPECT_EQ(ini.ReadInteger("nn", "a", 5), 12);
    EXPECT_EQ(ini.ReadInteger("nn", "b", 5), 0);
    EXPECT_EQ(ini.ReadInteger("nn", "c", 5), -7);
    EXPECT_EQ(ini.ReadInteger("nn", "d", 5), 5) << "an empty value gives the default";
    EXPECT_EQ(ini.ReadInteger("nn", "e", 5), 42);
    EXPECT_EQ(ini.ReadInteger("nn", "absent", 5), 5);
    EXPECT_EQ(ini.ReadInteger("nosec", "a", 5), 5);
    for (const char* key : {"y1", "y2", "y3", "y4", "y5"})
        EXPECT_EQ(ini.ReadBool("bb", key, 0), 1) << key;
    for (const char* key : {"n1", "n2", "n3"})
        EXPECT_EQ(ini.ReadBool("bb", key, 1), 0) << key;
    EXPECT_EQ(ini.ReadBool("bb", "n4", 1), 1) << "an empty value gives the default";
    EXPECT_EQ(ini.ReadBool("bb", "absent", 1), 1);
    EXPECT_EQ(ini.ReadString("bb", "absent", "def"), "def");

    ini.WriteBool("w", "t", 1);
    ini.WriteBool("w", "f", 0);
    ini.WriteInteger("w", "i", -123);
    ini.WriteString("w", "s", "text");
    ini.WriteString("w", "t", "again");
    EXPECT_EQ(sectionLines(ini, "w"), Lines({"f=0", "i=-123", "s=text", "t=again"}))
        << "a key written again moves to the end of its section";

    EXPECT_TRUE(ini.DeleteKey("w", "i"));
    EXPECT_FALSE(ini.DeleteKey("w", "i"));
    EXPECT_FALSE(ini.DeleteKey("nosec", "i"));
    EXPECT_TRUE(ini.DeleteKey("w", "f"));
    EXPECT_TRUE(ini.DeleteKey("w", "s"));
    EXPECT_TRUE(ini.DeleteKey("w", "t"));
    EXPECT_TRUE(ini.SectionExists("w")) << "an emptied section stays";
    EXPECT_TRUE(ini.EraseSection("w"));
    EXPECT_FALSE(ini.EraseSection("w"));
    EXPECT_FALSE(ini.SectionExists("w"));
}

TEST(IniFile, SectionCopiesAndKeys)
{
    TIniFile ini = parse("[sec]\n  key = v\n; note\n\nother\n");
    TStringList out;
    out.Add("stale", 7);
    EXPECT_FALSE(ini.ReadSectionEntries("absent", out));
    EXPECT_EQ(out.Count(), 0) << "an absent section empties the list";

    ASSERT_TRUE(ini.ReadSectionEntries("sec", out));
    EXPECT_EQ(out.Count(), 4);
    EXPECT_EQ(out.GetValue("key"), "v");

    ASSERT_TRUE(ini.ReadSectionKeys("sec", out));
    std::vector<std::string> keys;
    for (int i = 0; i < out.Count(); ++i)
        keys.push_back(out.Get(i));
    EXPECT_EQ(keys, Lines({"key", "; note", "", "other"}));
    EXPECT_FALSE(out.KeyExists("key")) << "the view follows the rewritten lines";

    TStringList all;
    all.Add("first", 0);
    ini.GetStrings(all);
    std::vector<std::string> lines;
    for (int i = 0; i < all.Count(); ++i)
        lines.push_back(all.Get(i));
    EXPECT_EQ(lines, Lines({"first", "[sec]", "  key = v", "; note", "", "other"}));
}

TEST(IniFile, WritesTheExactTextAndReadsItBack)
{
    TempFolder dir;

    TIniFile small(dir / "small.ini");
    small.WriteString("b", "x", "1");
    small.WriteString("a", "y", "2");
    small.WriteString("B", "z", " raw \"value\"");
    small.WriteToFile();
    EXPECT_EQ(TempFolder::readFile(dir / "small.ini"), "[B]\nz= raw \"value\"\n\n[a]\ny=2\n\n[b]\nx=1\n\n")
        << "byte order of names, LF only, values raw, an empty line after each section";
    TIniFile smallBack(dir / "small.ini");
    smallBack.ReadFromFile();
    EXPECT_TRUE(smallBack.GetSections().empty()) << "one-character names do not read back as headers";

    const std::string nested = dir / "sub/folder/settings.ini";
    TIniFile ini(nested);
    TStringList lines;
    lines.SetText(std::string("[bb]\nx=1\n[aa]\ny=2\n\n"));
    ini.ParseStrings(lines);
    ini.WriteToFile();
    EXPECT_EQ(TempFolder::readFile(nested), "[aa]\ny=2\n\n[bb]\nx=1\n\n")
        << "missing folders are created and the empty line of a section is not written";

    TIniFile back(nested);
    back.ReadFromFile();
    EXPECT_EQ(sectionLines(back, "aa"), Lines({"y=2", ""})) << "each section reads back with its separator line";
    EXPECT_EQ(sectionLines(back, "bb"), Lines({"x=1", ""}));
    back.WriteString("aa", "y", "3");
    back.WriteToFile();
    EXPECT_EQ(TempFolder::readFile(nested), "[aa]\ny=3\n\n[bb]\nx=1\n\n")
        << "reading and writing again does not add empty lines";
}

TEST(IniFile, ReadsEveryLineBreakAndReportsMissingFiles)
{
    TempFolder dir;
    const std::string file = dir / "mixed.ini";
    TempFolder::writeFile(file, "[ab]\r\nx=1\ry=2\n[cd]\r\nz=3");
    TIniFile ini(file);
    ini.ReadFromFile();
    EXPECT_EQ(ini.ReadString("ab", "x", ""), "1");
    EXPECT_EQ(ini.ReadString("ab", "y", ""), "2");
    EXPECT_EQ(ini.ReadString("cd", "z", ""), "3") << "the last line needs no break";

    TIniFile missing(dir / "missing.ini");
    missing.WriteString("s", "k", "v");
    EXPECT_FALSE(missing.ReadFromFileNoException());
    EXPECT_TRUE(missing.GetSections().empty()) << "a failed read leaves no section";
    EXPECT_EQ(missing.ReadString("s", "k", "def"), "def");

    try {
        TIniFile(dir / "missing.ini").ReadFromFile();
        ADD_FAILURE() << "no exception for a missing file";
    } catch (const Tr::Exception& e) {
        EXPECT_STREQ(e.what(), ("error opening file: : " + dir / "missing.ini").c_str());
    }
}

TEST(IniFile, FailedWritesAreReportedAndKeepTheOldFile)
{
    TempFolder dir;
    const std::string file = dir / "settings.ini";
    TIniFile old(file);
    old.WriteString("Current", "Key", "old value");
    old.WriteToFile();
    const std::string oldText = TempFolder::readFile(file);

    TIniFile big(file);
    big.WriteString("Current", "Key", std::string(100000, 'n'));
    {
        ScopedFileSizeLimit limit(4096);
        try {
            big.WriteToFile();
            ADD_FAILURE() << "a write that filled the disk was reported as success";
        } catch (const Tr::Exception& e) {
            EXPECT_STREQ(e.what(), ("Cannot write to file: " + file).c_str());
        }
    }
    EXPECT_EQ(TempFolder::readFile(file), oldText) << "the old file must survive a failed write";
    EXPECT_EQ(dir.entryCount(), 1) << "no temporary file may be left behind";

    TIniFile onFolder(dir.path());
    onFolder.WriteString("ab", "k", "v");
    try {
        onFolder.WriteToFile();
        ADD_FAILURE() << "writing over a folder was reported as success";
    } catch (const Tr::Exception& e) {
        EXPECT_STREQ(e.what(), ("Cannot write to file: " + dir.path()).c_str());
    }

    // The folder cannot be created because a file stands where it should be.
    TIniFile underFile(file + "/inner.ini");
    underFile.WriteString("ab", "k", "v");
    EXPECT_THROW(underFile.WriteToFile(), Tr::Exception);
    EXPECT_EQ(TempFolder::readFile(file), oldText);

    TIniFile full("/dev/full");
    full.WriteString("ab", "k", "v");
    EXPECT_THROW(full.WriteToFile(), Tr::Exception);
}

TEST(IniFile, LengthPrefixedStrings)
{
    EXPECT_EQ(Tr::EncodeStringForIniFile("MIDI"), "0004MIDI");
    EXPECT_EQ(Tr::EncodeStringForIniFile(""), "0000");
    const std::string huge(70000, 'h');
    EXPECT_EQ(Tr::EncodeStringForIniFile(huge), "FFFF" + huge.substr(0, 65535));
    EXPECT_EQ(Tr::EncodeStringForIniFile(std::string(255, 'q')).substr(0, 4), "00FF");

    std::string out;
    EXPECT_EQ(Tr::DecodeStringFromIniFile("0002abXY", 0, out), 6);
    EXPECT_EQ(out, "ab");
    EXPECT_EQ(Tr::DecodeStringFromIniFile("xx0000", 2, out), 4);
    EXPECT_EQ(out, "");
    EXPECT_EQ(Tr::DecodeStringFromIniFile("0003abc", 0, out), 7);
    EXPECT_EQ(out, "abc");

    const std::string packed = Tr::EncodeStringForIniFile("one") + Tr::EncodeStringForIniFile("two");
    int pos = 0;
    pos += Tr::DecodeStringFromIniFile(packed, pos, out);
    EXPECT_EQ(out, "one");
    pos += Tr::DecodeStringFromIniFile(packed, pos, out);
    EXPECT_EQ(out, "two");
    EXPECT_EQ(pos, (int)packed.size());

    struct Bad
    {
        std::string text;
        int pos;
    };
    for (const Bad& bad : {Bad{"0002abXY", 6}, Bad{"0003ab", 0}, Bad{"zz02ab", 0}, Bad{"00ffx", 0},
                           Bad{"", 0}, Bad{"000", 0}, Bad{"0000", 5}, Bad{"0000", -1}}) {
        try {
            Tr::DecodeStringFromIniFile(bad.text, bad.pos, out);
            ADD_FAILURE() << "no exception for '" << bad.text << "' at " << bad.pos;
        } catch (const Tr::Exception& e) {
            EXPECT_STREQ(e.what(), "illegal ini format") << bad.text;
        }
    }
}
