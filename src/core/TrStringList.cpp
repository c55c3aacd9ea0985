#include "TrStringList.h"

#include "TrException.h"
#include "TrFiles.h"
#include "TrUtil.h"

#include <algorithm>
#include <cstring>

namespace Tr {

namespace {

// Only this much of a line takes part in the key=value view.
constexpr size_t kMaxParsedLine = 8000;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

char unescape(char c)
{
    switch (c) {
    case 'a': return 7;
    case 'b': return 8;
    case 't': return 9;
    case 'n': return 10;
    case 'r': return 13;
    default: return c;
    }
}

// Reads a quoted text whose opening quote is at line[pos]. On success out holds the text with
// its escapes resolved and pos is on the closing quote; false when the line ends first.
bool readQuoted(const std::string& line, size_t& pos, std::string& out)
{
    out.clear();
    size_t i = pos + 1;
    while (i < line.size()) {
        char c = line[i];
        if (c == '"') {
            pos = i;
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= line.size())
                return false;
            out += unescape(line[i + 1]);
            i += 2;
        } else {
            out += c;
            ++i;
        }
    }
    return false;
}

// The key and value of one line; false for comments, lines without "=", empty keys and
// unfinished quotes.
bool parseLine(const std::string& text, std::string& key, std::string& value)
{
    size_t limit = std::min(text.size(), kMaxParsedLine);
    const void* zero = memchr(text.data(), 0, limit);
    if (zero)
        limit = (size_t)((const char*)zero - text.data());
    const std::string line = text.substr(0, limit);

    size_t p = 0;
    while (p < line.size() && isBlank(line[p]))
        ++p;
    if (p < line.size() && line[p] == ';')
        return false;

    size_t eq;
    if (p < line.size() && line[p] == '"') {
        if (!readQuoted(line, p, key))
            return false;
        eq = line.find('=', p);
        if (eq == std::string::npos)
            return false;
    } else {
        eq = line.find('=', p);
        if (eq == std::string::npos)
            return false;
        size_t end = eq;
        while (end > p && isBlank(line[end - 1]))
            --end;
        key = line.substr(p, end - p);
    }
    if (key.empty())
        return false;

    size_t v = eq + 1;
    while (v < line.size() && isBlank(line[v]))
        ++v;
    if (v < line.size() && line[v] == '"')
        return readQuoted(line, v, value);
    value = line.substr(v);
    return true;
}

// Appends the lines of the first `limit` bytes of text; LF, CR and CR LF end a line. With
// zeroEnds a zero byte ends the text before the limit.
void splitLines(std::vector<TStringListElement>& lines, const char* text, size_t limit, bool zeroEnds)
{
    size_t i = 0;
    size_t start = 0;
    while (i < limit && !(zeroEnds && text[i] == 0)) {
        char c = text[i];
        if (c == '\n' || c == '\r') {
            lines.push_back(TStringListElement{std::string(text + start, i - start), 0});
            ++i;
            if (c == '\r' && i < limit && text[i] == '\n')
                ++i;
            start = i;
        } else {
            ++i;
        }
    }
    if (i > start)
        lines.push_back(TStringListElement{std::string(text + start, i - start), 0});
}

} // namespace

void TStringList::Clear()
{
    FLines.clear();
    FRemoved.clear();
    FRemovedCount = 0;
    ClearValues();
}

void TStringList::Add(const std::string& text, int tag)
{
    FLines.push_back(TStringListElement{text, tag});
    if (!FRemoved.empty())
        FRemoved.push_back(0);
    if (FParsed)
        addToView(FLines.size() - 1);
}

void TStringList::Delete(int index)
{
    pack();
    FLines.erase(FLines.begin() + index);
    ClearValues();
}

void TStringList::pack() const
{
    if (FRemovedCount == 0)
        return;
    std::vector<size_t> moved(FParsed ? FLines.size() : 0);
    size_t kept = 0;
    for (size_t i = 0; i < FLines.size(); ++i) {
        if (FRemoved[i])
            continue;
        if (FParsed)
            moved[i] = kept;
        if (kept != i)
            FLines[kept] = std::move(FLines[i]);
        ++kept;
    }
    FLines.erase(FLines.begin() + (std::ptrdiff_t)kept, FLines.end());
    FRemoved.clear();
    FRemovedCount = 0;
    for (auto& entry : FValues) {
        KeyLines& k = entry.second;
        k.lines.erase(k.lines.begin(), k.lines.begin() + (std::ptrdiff_t)k.first);
        k.first = 0;
        for (size_t& pos : k.lines)
            pos = moved[pos];
    }
}

void TStringList::addToView(size_t pos) const
{
    std::string k, v;
    if (!parseLine(FLines[pos].FText, k, v))
        return;
    KeyLines& entry = FValues[k];
    entry.value = std::move(v);
    entry.lines.push_back(pos);
}

int TStringList::ParseValues(const std::string* key) const
{
    pack();
    FValues.clear();
    FParsed = true;
    for (size_t i = 0; i < FLines.size(); ++i)
        addToView(i);
    if (!key)
        return -1;
    auto it = FValues.find(*key);
    return it == FValues.end() ? -1 : (int)it->second.lines.front();
}

void TStringList::parseIfNeeded() const
{
    if (!FParsed)
        ParseValues(nullptr);
}

const std::string& TStringList::GetValue(const std::string& key) const
{
    parseIfNeeded();
    auto it = FValues.find(key);
    return it == FValues.end() ? UString::Empty() : it->second.value;
}

bool TStringList::KeyExists(const std::string& key) const
{
    parseIfNeeded();
    return FValues.count(key) != 0;
}

// Removes the first line of a key of the view. The value stays: it is that of the key's last line,
// unless none is left.
void TStringList::removeFirstLine(std::unordered_map<std::string, KeyLines>::iterator it)
{
    KeyLines& entry = it->second;
    const size_t pos = entry.lines[entry.first++];
    if (entry.first == entry.lines.size())
        FValues.erase(it);
    if (FRemoved.empty())
        FRemoved.assign(FLines.size(), 0);
    FRemoved[pos] = 1;
    ++FRemovedCount;
    std::string().swap(FLines[pos].FText);
    // Once most of the list is gaps, closing them costs no more than the removals that made them.
    if (FRemovedCount > FLines.size() / 2)
        pack();
}

void TStringList::SetValue(const std::string& key, const std::string& value)
{
    parseIfNeeded();
    auto it = FValues.find(key);
    if (it != FValues.end())
        removeFirstLine(it);
    Add(key + "=" + value, 0);
}

bool TStringList::DeleteKey(const std::string& key)
{
    parseIfNeeded();
    auto it = FValues.find(key);
    if (it == FValues.end())
        return false;
    removeFirstLine(it);
    return true;
}

std::string TStringList::GetKey(int index) const
{
    const std::string& text = Get(index);
    return Trim(text.substr(0, text.find('=')));
}

int TStringList::IndexOf(const std::string& s) const
{
    pack();
    for (size_t i = 0; i < FLines.size(); ++i)
        if (FLines[i].FText == s)
            return (int)i;
    return -1;
}

int TStringList::IndexOfIgnoreCase(const std::string& s) const
{
    pack();
    for (size_t i = 0; i < FLines.size(); ++i)
        if (CompareText(FLines[i].FText, s) == 0)
            return (int)i;
    return -1;
}

bool TStringList::AddIfNotExists(const std::string& s, unsigned char ignoreCase)
{
    if ((ignoreCase ? IndexOfIgnoreCase(s) : IndexOf(s)) >= 0)
        return false;
    Add(s, 0);
    return true;
}

void TStringList::Add(const TStringList& other)
{
    pack();
    other.pack();
    ClearValues();
    // A copy first, so that adding a list to itself appends the lines it held once.
    const std::vector<TStringListElement> lines = other.FLines;
    FLines.insert(FLines.end(), lines.begin(), lines.end());
}

void TStringList::Assign(const TStringList& other)
{
    if (&other == this)
        return;
    Clear();
    Add(other);
}

void TStringList::Sort()
{
    pack();
    ClearValues();
    std::sort(FLines.begin(), FLines.end(),
              [](const TStringListElement& a, const TStringListElement& b) { return a.FText < b.FText; });
}

std::string TStringList::GetText() const
{
    pack();
    std::string text;
    text.reserve((size_t)GetTextLen((int)FLineSeparator.size()));
    for (const auto& line : FLines) {
        text += line.FText;
        text += FLineSeparator;
    }
    return text;
}

int TStringList::GetTextLen(int sepLen) const
{
    pack();
    int len = 0;
    for (const auto& line : FLines)
        len += (int)line.FText.size() + sepLen;
    return len;
}

void TStringList::SetCapacity(int n)
{
    pack();
    if (n > 0)
        FLines.reserve((size_t)n);
}

void TStringList::SetText(const char* text, int len)
{
    Clear();
    if (text)
        splitLines(FLines, text, len < 0 ? (size_t)-1 : (size_t)len, true);
}

void TStringList::SetText(const std::string& text)
{
    Clear();
    splitLines(FLines, text.data(), text.size(), false);
}

bool TStringList::LoadFromFile(const std::string& fileName, unsigned char throwOnError)
{
    int size = 0;
    std::string error;
    void* data = getMemoryMappedFile(fileName, size, &error);
    if (!data) {
        if (throwOnError)
            throw Exception(error);
        return false;
    }
    SetText((const char*)data, size);
    freeMemoryMappedFile(data);
    return true;
}

bool TStringList::SaveToFile(const std::string& fileName, unsigned char throwOnError) const
{
    std::string reason;
    const TFileWriteResult written = WriteFileReplacing(fileName, GetText(), &reason);
    if (written == fwOk)
        return true;
    if (!throwOnError)
        return false;
    if (written == fwCannotOpen)
        throw Exception("could not open file " + fileName + " for writing: " + reason);
    if (written == fwNotRegularFile)
        throw Exception(reason + ": " + fileName);
    throw Exception(UString::FormatS1("Cannot write to file: %s", fileName) + ": " + reason);
}

} // namespace Tr
