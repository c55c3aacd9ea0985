// Output streams for text lines and bytes, writing to a file or to memory.
#pragma once

#include "TrFiles.h"

#include <cstdlib>
#include <memory>
#include <string>

namespace Tr {

class TStringList;

class TOutputStream
{
public:
    TOutputStream() : FLineSep("\r\n") {}
    explicit TOutputStream(std::string lineSep) : FLineSep(std::move(lineSep)) {}
    virtual ~TOutputStream() = default;

    virtual void writeLine(const std::string& s);
    virtual void writeLine();
    virtual void writeLine(char c);
    virtual void writeString(const std::string& s);
    virtual void writeString(const char* p, int n);
    virtual void writeStrings(const TStringList& list);
    virtual void writeByte(unsigned char b);
    virtual void write(const unsigned char* data, int n) = 0;
    virtual std::string getLineSep() const { return FLineSep; }
    virtual void setCapacity(int) {}

protected:
    std::string FLineSep;
};

class TFileOutputStream : public TOutputStream
{
public:
    // Both create or truncate the file; "Error opening file <name>!" is thrown when they cannot.
    explicit TFileOutputStream(const std::string& fileName);
    TFileOutputStream(const std::string& fileName, std::string lineSep);
    ~TFileOutputStream() override = default;

    void write(const unsigned char* data, int n) override;
    virtual std::string getFilename() const { return FFileName; }
    virtual void openFile();
    virtual void closeFile();

private:
    std::string FFileName;
    TFilePtr FFile;
};

class TMemOutputStream : public TOutputStream
{
public:
    TMemOutputStream();
    TMemOutputStream(int initialSize, int growBy);
    TMemOutputStream(int initialSize, int growBy, std::string lineSep);
    ~TMemOutputStream() override = default;

    void write(const unsigned char* data, int n) override;
    void setCapacity(int n) override { assertDataSize(n); }
    virtual unsigned char* getData() const { return FData.get(); }
    virtual int getSize() const { return FSize; }
    virtual std::string GetText() const;

    // Makes the buffer hold at least `needed` bytes; "Error allocating memory (<n> bytes)" when
    // there is no memory, with the old buffer kept.
    void assertDataSize(int needed);

private:
    struct FreeDeleter
    {
        void operator()(unsigned char* p) const { free(p); }
    };

    std::unique_ptr<unsigned char, FreeDeleter> FData;
    int FSize = 0;
    int FCapacity = 0;
    int FGrowBy;
};

} // namespace Tr
