#include "TrIniFile.h"

#include "TrException.h"
#include "TrFiles.h"
#include "TrUtil.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace Tr {

namespace {

const char ByteOrderMark[] = "\xEF\xBB\xBF";
constexpr int ByteOrderMarkSize = 3;

// Values are read back through the string list's value parser, which skips blanks and tabs after
// the "=", takes a leading double quote for the start of a quoted value, and never sees past a line
// break: a break would even let the rest of the value stand as lines of its own, keys and section
// headers included. Such a value is written in the parser's quoted form; every other value stays
// raw, so files and their readers see what they always saw.
std::string ReadableValue(const std::string& value)
{
    // A zero byte would end the whole file for the reader; what stands before it is all a reader
    // could ever see of this value.
    const std::string text = value.substr(0, value.find('\0'));
    const bool raw = text.empty()
                     || (text[0] != ' ' && text[0] != '\t' && text[0] != '"'
                         && text.find_first_of("\r\n") == std::string::npos);
    if (raw)
        return text;
    std::string quoted = "\"";
    for (const char c : text) {
        switch (c) {
        case '\\':
            quoted += "\\\\";
            break;
        case '"':
            quoted += "\\\"";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        default:
            quoted += c;
        }
    }
    quoted += '"';
    return quoted;
}

} // namespace

bool TIniFile::read(bool throwOnError)
{
    int size = 0;
    std::string error;
    void* data = getMemoryMappedFile(FFileName, size, &error);
    if (!data) {
        if (throwOnError)
            throw Exception(error);
        FSections.clear();
        FByteOrderMark = FStoppedAtZeroByte = false;
        return false;
    }
    // Some editors put a byte-order mark in front of a UTF-8 file; read as text it would hide the
    // first section's header.
    const char* text = static_cast<const char*>(data);
    FByteOrderMark = size >= ByteOrderMarkSize && memcmp(text, ByteOrderMark, ByteOrderMarkSize) == 0;
    if (FByteOrderMark) {
        text += ByteOrderMarkSize;
        size -= ByteOrderMarkSize;
    }
    FStoppedAtZeroByte = memchr(text, 0, (size_t)size) != nullptr;
    TStringList lines;
    lines.SetText(text, size);
    freeMemoryMappedFile(data);
    ParseStrings(lines);
    return true;
}

void TIniFile::ReadFromFile()
{
    read(true);
}

bool TIniFile::ReadFromFileNoException()
{
    return read(false);
}

void TIniFile::ParseStrings(const TStringList& lines)
{
    FSections.clear();
    std::string current;
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string& text = lines.Get(i);
        // "[x]" and "[]" are too short to be headers: files written with such names have always
        // read back that way.
        if (text.size() >= 4 && text.front() == '[' && text.back() == ']') {
            current = text.substr(1, text.size() - 2);
            continue;
        }
        if (!current.empty())
            FSections[current].Add(text, 0);
    }
}

void TIniFile::WriteToFile() const
{
    // A folder that cannot be made shows as the write failing below.
    ForceDirectories(ExtractFileDir(FFileName));

    std::string text = FByteOrderMark ? ByteOrderMark : "";
    for (const auto& [name, lines] : FSections) {
        text += "[" + name + "]\n";
        for (int i = 0; i < lines.Count(); ++i) {
            if (lines.Get(i).empty())
                continue;
            text += lines.Get(i);
            text += '\n';
        }
        text += '\n';
    }
    std::string reason;
    if (WriteFileReplacing(FFileName, text, &reason) != fwOk)
        throw Exception(UString::FormatS1("Cannot write to file: %s", FFileName) + ": " + reason);
}

void TIniFile::GetStrings(TStringList& out) const
{
    for (const auto& [name, lines] : FSections) {
        out.Add("[" + name + "]", 0);
        out.Add(lines);
    }
}

const TStringList* TIniFile::findSection(const std::string& section) const
{
    auto it = FSections.find(section);
    return it == FSections.end() ? nullptr : &it->second;
}

bool TIniFile::SectionExists(const std::string& section) const
{
    return findSection(section) != nullptr;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const
{
    const TStringList* lines = findSection(section);
    return lines && lines->KeyExists(key);
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const
{
    const TStringList* lines = findSection(section);
    if (!lines || !lines->KeyExists(key))
        return def;
    return lines->GetValue(key);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const
{
    const std::string value = ReadString(section, key, "");
    if (value.empty())
        return def;
    // atoi's reading, without its undefined result for numbers out of range.
    long n = strtol(value.c_str(), nullptr, 10);
    if (n > INT_MAX)
        return INT_MAX;
    if (n < INT_MIN)
        return INT_MIN;
    return (int)n;
}

unsigned char TIniFile::ReadBool(const std::string& section, const std::string& key, unsigned char def) const
{
    const std::string value = ReadString(section, key, "");
    if (value.empty())
        return def;
    switch (value[0]) {
    case 't': case 'T': case '1': case 'y': case 'Y':
        return 1;
    default:
        return 0;
    }
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    FSections[section].SetValue(key, ReadableValue(value));
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    WriteString(section, key, UString::FromInt(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, unsigned char value)
{
    WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::DeleteKey(const std::string& section, const std::string& key)
{
    auto it = FSections.find(section);
    return it != FSections.end() && it->second.DeleteKey(key);
}

bool TIniFile::EraseSection(const std::string& section)
{
    return FSections.erase(section) != 0;
}

bool TIniFile::ReadSectionEntries(const std::string& section, TStringList& out) const
{
    const TStringList* lines = findSection(section);
    if (!lines) {
        out.Clear();
        return false;
    }
    out = *lines;
    return true;
}

bool TIniFile::ReadSectionKeys(const std::string& section, TStringList& out) const
{
    if (!ReadSectionEntries(section, out))
        return false;
    for (int i = 0; i < out.Count(); ++i)
        out[i].FText = out.GetKey(i);
    out.ClearValues();
    return true;
}

std::string EncodeStringForIniFile(const std::string& s)
{
    const std::string t = s.substr(0, 65535);
    return IntToHexLen((int)t.size(), 4, 4) + t;
}

int DecodeStringFromIniFile(const std::string& s, int pos, std::string& out)
{
    const long r = (long)s.size() - pos;
    if (pos < 0 || r < 4)
        throw Exception("illegal ini format");
    const int n = HexToInt(s.substr((size_t)pos, 4));
    if (n < 0 || r < (long)n + 4)
        throw Exception("illegal ini format");
    out = s.substr((size_t)pos + 4, (size_t)n);
    return n + 4;
}

} // namespace Tr
