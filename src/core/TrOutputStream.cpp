#include "TrOutputStream.h"

#include "TrException.h"
#include "TrStringList.h"
#include "TrUtil.h"

#include <climits>
#include <cstring>

namespace Tr {

void TOutputStream::writeLine(const std::string& s)
{
    writeString(s);
    writeLine();
}

void TOutputStream::writeLine()
{
    writeString(FLineSep);
}

void TOutputStream::writeLine(char c)
{
    writeByte((unsigned char)c);
    writeLine();
}

void TOutputStream::writeString(const std::string& s)
{
    write((const unsigned char*)s.data(), (int)s.size());
}

void TOutputStream::writeString(const char* p, int n)
{
    write((const unsigned char*)p, n);
}

void TOutputStream::writeStrings(const TStringList& list)
{
    setCapacity(list.GetTextLen((int)FLineSep.size()));
    for (int i = 0; i < list.Count(); ++i)
        writeLine(list.Get(i));
}

void TOutputStream::writeByte(unsigned char b)
{
    write(&b, 1);
}

// ---------------------------------------------------------------------------------------------

TFileOutputStream::TFileOutputStream(const std::string& fileName)
    : FFileName(fileName)
{
    openFile();
}

TFileOutputStream::TFileOutputStream(const std::string& fileName, std::string lineSep)
    : TOutputStream(std::move(lineSep)), FFileName(fileName)
{
    openFile();
}

void TFileOutputStream::openFile()
{
    closeFile();
    FFile.reset(fopen(FFileName.c_str(), "wb"));
    if (!FFile)
        throw Exception(UString::FormatS1("Error opening file %s!", FFileName));
}

void TFileOutputStream::closeFile()
{
    FFile.reset();
}

void TFileOutputStream::write(const unsigned char* data, int n)
{
    if (n <= 0)
        return;
    if (!FFile || fwrite(data, 1, (size_t)n, FFile.get()) != (size_t)n)
        throw Exception("Error writing to file");
}

// ---------------------------------------------------------------------------------------------

TMemOutputStream::TMemOutputStream()
    : FGrowBy(8192)
{
    assertDataSize(4096);
}

TMemOutputStream::TMemOutputStream(int initialSize, int growBy)
    : FGrowBy(growBy)
{
    assertDataSize(initialSize);
}

TMemOutputStream::TMemOutputStream(int initialSize, int growBy, std::string lineSep)
    : TOutputStream(std::move(lineSep)), FGrowBy(growBy)
{
    assertDataSize(initialSize);
}

void TMemOutputStream::assertDataSize(int needed)
{
    int newSize;
    if (!FData)
        newSize = needed > 0 ? needed : 0;
    else if (needed > FCapacity)
        // One step of growth, or more when a single write needs more than that.
        newSize = FGrowBy > 0 && FCapacity <= INT_MAX - FGrowBy && FCapacity + FGrowBy >= needed
                      ? FCapacity + FGrowBy
                      : needed;
    else
        return;

    unsigned char* buffer = (unsigned char*)malloc(newSize > 0 ? (size_t)newSize : 1);
    if (!buffer)
        throw Exception(UString::FormatS1("Error allocating memory (%d bytes)", newSize));
    if (FSize > 0)
        memcpy(buffer, FData.get(), (size_t)FSize);
    FData.reset(buffer);
    FCapacity = newSize;
}

void TMemOutputStream::write(const unsigned char* data, int n)
{
    if (n <= 0)
        return;
    if (n > INT_MAX - FSize)
        throw Exception(UString::FormatS1("Error allocating memory (%d bytes)", INT_MAX));
    assertDataSize(FSize + n);
    memcpy(FData.get() + FSize, data, (size_t)n);
    FSize += n;
}

std::string TMemOutputStream::GetText() const
{
    return std::string((const char*)FData.get(), (size_t)FSize);
}

} // namespace Tr
