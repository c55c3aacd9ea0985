#include "TextHelpers.h"
#include "TempFolder.h"

#include "core/TrFiles.h"
#include "core/TrIniFile.h"

#include <gtest/gtest.h>

#include <iterator>
#include <utility>

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

Lines sectionLines(const TIniFile& ini, const std::string& section)
{
    TStringList lines;
    ini.ReadSectionEntries(section, lines);
    return LinesOf(lines);
}

Lines sectionNames(const TIniFile& ini)
{
    Lines names;
    for (const auto& entry : ini.GetSections())
        names.push_back(entry.first);
    return names;
}

} // namespace

TEST(IniFile, SectionsHeadersAndTypedValues)
{
    EXPECT_TRUE(parse("[ab]\n").GetSections().empty()) << "a header alone makes no section";

    TIniFile ini = parse("x=0\n[ab]\nx=1\n[ab] \n [cd]\n\n; note\n[c d]]\ny=2\n[ab]\nz=3\n[AB]\nx=4\nKey=5\n");
    EXPECT_EQ(sectionNames(ini), Lines({"AB", "ab", "c d]"})) << "lines before the first header are dropped";
    EXPECT_EQ(sectionLines(ini, "ab"), Lines({"x=1", "[ab] ", " [cd]", "", "; note", "z=3"}))
        << "blanks around brackets make ordinary lines; a repeated header continues its section";
    EXPECT_EQ(ini.ReadString("c d]", "y", ""), "2") << "names keep blanks and inner brackets";
    EXPECT_EQ(ini.ReadString("AB", "x", ""), "4") << "section names are case-sensitive";
    EXPECT_FALSE(ini.ValueExists("AB", "key")) << "keys are case-sensitive";

    TStringList out = ListOf({"stale"});
    EXPECT_FALSE(ini.ReadSectionEntries("absent", out));
    EXPECT_EQ(out.Count(), 0) << "an absent section empties the list";

    ini = parse("[nn]\na=12abc\nb=abc\nc=-7\nd=\ne=  42\n"
                "[bb]\ny1=yes\ny2=Y\ny3=true\ny4=T\ny5=1\nn1=no\nn2=false\nn3=0\nn4=\n");
    struct Int { const char* key; int value; };
    for (const Int& c : {Int{"a", 12}, Int{"b", 0}, Int{"c", -7}, Int{"d", 5}, Int{"e", 42}, Int{"absent", 5}})
        EXPECT_EQ(ini.ReadInteger("nn", c.key, 5), c.value) << c.key;
    for (const char* key : {"y1", "y2", "y3", "y4", "y5"})
        EXPECT_EQ(ini.ReadBool("bb", key, 0), 1) << key;
    for (const char* key : {"n1", "n2", "n3"})
        EXPECT_EQ(ini.ReadBool("bb", key, 1), 0) << key;
    EXPECT_EQ(ini.ReadBool("bb", "n4", 1), 1) << "an empty value gives the default";

    ini.WriteBool("w", "t", 1);
    ini.WriteInteger("w", "i", -123);
    EXPECT_EQ(sectionLines(ini, "w"), Lines({"t=1", "i=-123"}));
    EXPECT_TRUE(ini.EraseSection("w"));
    EXPECT_FALSE(ini.SectionExists("w"));
}

TEST(IniFile, WritesTheExactTextAndReadsItBack)
{
    TempFolder dir;
    TIniFile small(dir / "small.ini");
    small.WriteString("b", "x", "1");
    small.WriteString("a", "y", "2");
    small.WriteString("B", "z", "raw \"value\"");
    small.WriteToFile();
    EXPECT_EQ(TempFolder::readFile(dir / "small.ini"), "[B]\nz=raw \"value\"\n\n[a]\ny=2\n\n[b]\nx=1\n\n")
        << "byte order of names, LF only, values raw, an empty line after each section";

    const std::string nested = dir / "sub/folder/settings.ini";
    TIniFile ini(nested);
    ini.ParseStrings(ListOf({"[bb]", "x=1", "[aa]", "y=2", ""}));
    ini.WriteToFile();
    EXPECT_EQ(TempFolder::readFile(nested), "[aa]\ny=2\n\n[bb]\nx=1\n\n")
        << "missing folders are created and the empty line of a section is not written";

    TIniFile back(nested);
    back.ReadFromFile();
    EXPECT_EQ(sectionLines(back, "aa"), Lines({"y=2", ""})) << "each section reads back with its separator line";
    back.WriteString("aa", "y", "3");
    back.WriteToFile();
    EXPECT_EQ(TempFolder::readFile(nested), "[aa]\ny=3\n\n[bb]\nx=1\n\n")
        << "reading and writing again does not add empty lines";

    TempFolder::writeFile(nested, "[ab]\nx=1\n");
    back.ReadFromFile();
    EXPECT_FALSE(back.SectionExists("aa")) << "a read replaces what was held";

    TIniFile missing(dir / "missing.ini");
    missing.WriteString("s", "k", "v");
    EXPECT_FALSE(missing.ReadFromFileNoException());
    EXPECT_TRUE(missing.GetSections().empty()) << "a failed read leaves no section";
    EXPECT_EQ(ErrorText([&] { missing.ReadFromFile(); }), "error opening file: " + dir / "missing.ini" + ": No such file or directory");
}

TEST(IniFile, EveryValueReadsBackAndNoneMakesALineOfItsOwn)
{
    TempFolder dir;
    const std::string file = dir / "settings.ini";
    const std::string injected = "/home/u/z\n[MIDI.out]\nName0=Synth C\nOptions0=FF4944494D.syx";
    const std::pair<std::string, std::string> values[] = {   // value, its line
        {"C:\\dir\\a b;c=d [x]  ", "v0=C:\\dir\\a b;c=d [x]  "},   // all raw: nothing here is read specially
        {"", "v1="},
        {" lead", "v2=\" lead\""},
        {"\tq\"\\", "v3=\"\tq\\\"\\\\\""},
        {"\"quoted\"", "v4=\"\\\"quoted\\\"\""},
        {"two\r\nlines\r", "v5=\"two\\r\\nlines\\r\""},
        {injected, "v6=\"/home/u/z\\n[MIDI.out]\\nName0=Synth C\\nOptions0=FF4944494D.syx\""},
    };
    TIniFile ini(file);
    for (size_t i = 0; i < std::size(values); ++i)
        ini.WriteString("Current", "v" + std::to_string(i), values[i].first);
    ini.WriteString("Current", "zero", std::string("ab\0cd", 5));
    ini.WriteString("Later", "k", "kept");
    ini.WriteToFile();

    const std::string text = TempFolder::readFile(file);
    for (const auto& [value, line] : values)
        EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << "no line '" << line << "' in:\n" << text;
    TIniFile back(file);
    back.ReadFromFile();
    EXPECT_EQ(sectionNames(back), Lines({"Current", "Later"})) << "no section came out of a value";
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(back.ReadString("Current", "v" + std::to_string(i), "?"), values[i].first) << values[i].second;
    EXPECT_FALSE(back.ValueExists("Current", "Name0"));
    EXPECT_EQ(back.ReadString("Current", "zero", ""), "ab") << "a zero byte ends the value, not the file";
    EXPECT_EQ(back.ReadString("Later", "k", ""), "kept");
}

TEST(IniFile, LargeSectionsRewrittenKeyByKey)
{
    constexpr int n = 2000;
    std::string text = "[Other]\nkey=1\n; note\nkey=2\n\n[Ports]\n";
    for (int k = 0; k < n; ++k)
        text += "Name" + std::to_string(k) + "=Port " + std::to_string(k) + "\nOptions" + std::to_string(k) + "=FF\n";
    text += "\n";
    TempFolder dir;
    const std::string file = dir / "settings.ini";
    TempFolder::writeFile(file, text);
    TIniFile ini(file);
    ini.ReadFromFile();
    // Written again in the order read and with the same values, as the settings are saved.
    for (int k = 0; k < n; ++k) {
        ini.WriteString("Ports", "Name" + std::to_string(k), "Port " + std::to_string(k));
        ini.WriteString("Ports", "Options" + std::to_string(k), "FF");
    }
    ini.WriteToFile();
    EXPECT_EQ(TempFolder::readFile(file), text) << "the same file, byte for byte";
}

TEST(IniFile, AByteOrderMarkIsSkippedAndKeptAndAZeroByteIsNoticed)
{
    TempFolder dir;
    const std::string file = dir / "settings.ini", mark = "\xEF\xBB\xBF";
    TempFolder::writeFile(file, mark + "[Current]\nFile=a.syx\n[Other]\nk=v\n");
    TIniFile ini(file);
    ini.ReadFromFile();
    EXPECT_EQ(ini.ReadString("Current", "File", ""), "a.syx") << "the mark hides no header";
    EXPECT_FALSE(ini.StoppedAtZeroByte());
    ini.WriteString("Current", "File", "b.syx");
    ini.WriteToFile();
    EXPECT_EQ(TempFolder::readFile(file), mark + "[Current]\nFile=b.syx\n\n[Other]\nk=v\n\n") << "the mark is written again";

    TempFolder::writeFile(file, "[Current]\nFile=" + mark + "a.syx\n");
    ini.ReadFromFile();
    EXPECT_EQ(ini.ReadString("Current", "File", ""), mark + "a.syx") << "only a mark at the start is one";
    ini.WriteToFile();
    EXPECT_EQ(TempFolder::readFile(file), "[Current]\nFile=" + mark + "a.syx\n\n") << "no mark where there was none";

    const char zero[] = "[Current]\nFile=a\0b\n[Other]\nk=v\n";
    TempFolder::writeFile(file, mark + std::string(zero, sizeof zero - 1));
    ini.ReadFromFile();
    EXPECT_TRUE(ini.StoppedAtZeroByte());
    EXPECT_EQ(ini.ReadString("Current", "File", ""), "a");
    EXPECT_FALSE(ini.SectionExists("Other")) << "the text ends at the zero byte";
    TempFolder::writeFile(file, "[Current]\nFile=a\n");
    ini.ReadFromFile();
    EXPECT_FALSE(ini.StoppedAtZeroByte()) << "a later whole read";
}

// The file layer's own tests show that the old file survives and what each cause is.
TEST(IniFile, FailedWritesAreReportedWithTheirCause)
{
    TempFolder dir;
    const std::string file = dir / "settings.ini";
    TIniFile big(file);
    big.WriteString("Current", "Key", std::string(100000, 'n'));
    {
        ScopedFileSizeLimit limit(4096);
        EXPECT_EQ(ErrorText([&] { big.WriteToFile(); }), "Cannot write to file: " + file + ": File too large");
    }
    TIniFile device("/dev/full");
    device.WriteString("ab", "k", "v");
    EXPECT_EQ(ErrorText([&] { device.WriteToFile(); }), "Cannot write to file: /dev/full: not a regular file (device)");
}

TEST(IniFile, LengthPrefixedStrings)
{
    EXPECT_EQ(Tr::EncodeStringForIniFile("MIDI"), "0004MIDI");
    EXPECT_EQ(Tr::EncodeStringForIniFile(std::string(255, 'q')).substr(0, 4), "00FF");
    const std::string huge(70000, 'h');
    EXPECT_EQ(Tr::EncodeStringForIniFile(huge), "FFFF" + huge.substr(0, 65535));

    const std::string packed = Tr::EncodeStringForIniFile("one") + Tr::EncodeStringForIniFile("") + "0002twXY";
    std::string out;
    EXPECT_EQ(Tr::DecodeStringFromIniFile(packed, 0, out), 7);
    EXPECT_EQ(out, "one");
    EXPECT_EQ(Tr::DecodeStringFromIniFile(packed, 7, out), 4);
    EXPECT_EQ(out, "");
    EXPECT_EQ(Tr::DecodeStringFromIniFile(packed, 11, out), 6);
    EXPECT_EQ(out, "tw");

    struct Bad { std::string text; int pos; };
    for (const Bad& bad : {Bad{"0002abXY", 6}, Bad{"0003ab", 0}, Bad{"zz02ab", 0}, Bad{"00ffx", 0},
                           Bad{"", 0}, Bad{"000", 0}, Bad{"0000", 5}, Bad{"0000", -1}})
        EXPECT_EQ(ErrorText([&] { Tr::DecodeStringFromIniFile(bad.text, bad.pos, out); }), "illegal ini format")
            << "'" << bad.text << "' at " << bad.pos;
}
