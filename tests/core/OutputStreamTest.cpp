#include "TextHelpers.h"
#include "TempFolder.h"

#include "core/TrHashStringSet.h"
#include "core/TrOutputStream.h"

#include <gtest/gtest.h>

TEST(OutputStream, MemoryStreamWritesLinesAndGrows)
{
    Tr::TMemOutputStream out;
    out.writeLine(std::string("abc"));
    out.writeStrings(ListOf({"a", "bc"}));
    out.writeLine('x');
    out.writeByte(0);
    out.writeString("partial", 4);
    out.writeString(std::string("z\0z", 3));
    out.writeLine();
    EXPECT_EQ(out.GetText(), std::string("abc\r\na\r\nbc\r\nx\r\n\0partz\0z\r\n", 25));
    EXPECT_EQ(out.getSize(), 25);

    Tr::TMemOutputStream small(2, 3, "\n");
    const std::string big(100, 'q');
    small.writeLine(big);
    small.writeLine(std::string("end"));
    EXPECT_EQ(small.GetText(), big + "\nend\n") << "a write larger than one growth step still fits";

    small.setCapacity(1000);
    small.writeString("d", 1);
    EXPECT_EQ(small.GetText(), big + "\nend\nd") << "a larger buffer keeps what was written";
    EXPECT_EQ(Tr::TMemOutputStream(0, 0).GetText(), "");
}

TEST(OutputStream, FileStreamWritesAndReportsErrors)
{
    TempFolder dir;
    const std::string file = dir / "out.txt";
    TempFolder::writeFile(file, "old contents");
    {
        Tr::TFileOutputStream out(file);
        EXPECT_EQ(TempFolder::readFile(file), "") << "opening truncates the file";
        out.writeLine(std::string("one"));
        out.writeStrings(ListOf({"a", "bc"}));
    }
    EXPECT_EQ(TempFolder::readFile(file), "one\r\na\r\nbc\r\n");
    {
        Tr::TFileOutputStream out(file, "|");
        out.writeLine('x');
        out.closeFile();
        out.closeFile();
        EXPECT_THROW(out.writeLine('y'), Tr::Exception) << "a closed stream cannot write";
        out.openFile();
        out.writeLine(std::string("again"));
    }
    EXPECT_EQ(TempFolder::readFile(file), "again|");

    const std::string nowhere = dir / "no/such/out.txt";
    EXPECT_EQ(ErrorText([&] { Tr::TFileOutputStream out(nowhere); }), "Error opening file " + nowhere + "!");
    Tr::TFileOutputStream full("/dev/full");
    const std::string block(1 << 16, 'f');
    EXPECT_EQ(ErrorText([&] { full.writeString(block); }), "Error writing to file") << "a write to a full device";
    EXPECT_THROW(full.writeString(block), Tr::Exception) << "the stream stays usable after a failure";
}

TEST(HashStringSet, NumbersTextsIgnoringCaseUniquelyAcrossSets)
{
    Tr::THashStringSet set, other;
    const unsigned int abc = set.getID("abc", 1);
    EXPECT_EQ(set.getID("ABC", 0), abc);
    EXPECT_EQ(set.getID("new", 0), 0u) << "asking without create stores nothing";
    EXPECT_GT(other.getID("abc", 1), abc);
    set.Clear();
    EXPECT_GT(set.getID("abc", 1), other.getID("abc", 0)) << "a text forgotten by Clear gets a new, larger number";
}
