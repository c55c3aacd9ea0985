// An ini file held in memory: a map from section name to the section's raw lines, read and
// written as text, with typed reads and writes of key=value entries.
#pragma once

#include "TrStringList.h"

#include <map>
#include <string>

namespace Tr {

class TIniFile
{
public:
    explicit TIniFile(const std::string& fileName) : FFileName(fileName) {}
    virtual ~TIniFile() = default;

    // A UTF-8 byte-order mark at the start of the file is skipped, and written again by
    // WriteToFile. The text ends at a zero byte, as for a string list.
    void ReadFromFile();
    bool ReadFromFileNoException();
    // True when the last read ended at a zero byte, so that the file holds more than was read:
    // writing it back would lose the rest.
    bool StoppedAtZeroByte() const { return FStoppedAtZeroByte; }
    void ParseStrings(const TStringList& lines);
    // Throws "Cannot write to file: <name>: <cause>" when the file cannot be written; the
    // previous file is then left as it was.
    void WriteToFile() const;
    void GetStrings(TStringList& out) const;

    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    unsigned char ReadBool(const std::string& section, const std::string& key, unsigned char def) const;

    // A value that would not read back unchanged (leading blank, tab or double quote, a line
    // break) is stored in the quoted form the reader understands; others are stored as they are.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, unsigned char value);
    bool DeleteKey(const std::string& section, const std::string& key);
    bool EraseSection(const std::string& section);

    bool ReadSectionEntries(const std::string& section, TStringList& out) const;
    bool ReadSectionKeys(const std::string& section, TStringList& out) const;
    std::map<std::string, TStringList> GetSections() const { return FSections; }

private:
    bool read(bool throwOnError);
    const TStringList* findSection(const std::string& section) const;

    std::string FFileName;
    std::map<std::string, TStringList> FSections;
    bool FByteOrderMark = false;
    bool FStoppedAtZeroByte = false;
};

// Several strings packed into one ini value: four upper-case hexadecimal digits of the length,
// then the text (at most 65535 characters).
std::string EncodeStringForIniFile(const std::string& s);
// Reads one such field at pos into out and returns the number of characters it took; throws
// "illegal ini format" when the field is damaged or cut short.
int DecodeStringFromIniFile(const std::string& s, int pos, std::string& out);

} // namespace Tr
