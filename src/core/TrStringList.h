// An ordered list of text lines, each with an int tag, with a key=value view that is parsed from
// the lines when a value is first asked for, kept up to date by appending lines and by the key
// operations, and thrown away by every other change of the lines.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

namespace Tr {

struct TStringListElement
{
    std::string FText;
    int FTag = 0;
};

class TStringList
{
public:
    TStringList() = default;
    virtual ~TStringList() = default;

    void Clear();
    void Add(const std::string& text, int tag = 0);
    int Count() const { return (int)(FLines.size() - FRemovedCount); }

    // A caller that rewrites a line's text through this access calls ClearValues() itself.
    TStringListElement& operator[](int index)
    {
        pack();
        return FLines[(size_t)index];
    }
    const TStringListElement& operator[](int index) const
    {
        pack();
        return FLines[(size_t)index];
    }
    const std::string& Get(int index) const { return (*this)[index].FText; }
    int GetTag(int index) const { return (*this)[index].FTag; }
    void Delete(int index);
    void ClearValues()
    {
        FValues.clear();
        FParsed = false;
    }

    const std::string& GetLineSeparator() const { return FLineSeparator; }

    // Rebuilds the key=value view; the index of the first line whose key is *key, -1 if none or
    // when key is null.
    int ParseValues(const std::string* key) const;
    int ParseValues() const { return ParseValues(nullptr); }

    const std::string& GetValue(const std::string& key) const;
    bool KeyExists(const std::string& key) const;
    void SetValue(const std::string& key, const std::string& value);
    bool DeleteKey(const std::string& key);
    std::string GetKey(int index) const;

    int IndexOf(const std::string& s) const;
    int IndexOfIgnoreCase(const std::string& s) const;
    bool AddIfNotExists(const std::string& s, unsigned char ignoreCase);
    void Add(const TStringList& other);
    void Assign(const TStringList& other);
    void Sort();

    std::string GetText() const;
    int GetTextLen(int sepLen) const;
    int GetCapacity() const
    {
        pack();
        return (int)FLines.capacity();
    }
    void SetCapacity(int n);

    void SetText(const char* text, int len);
    void SetText(const std::string& text);

    bool LoadFromFile(const std::string& fileName, unsigned char throwOnError);
    bool SaveToFile(const std::string& fileName, unsigned char throwOnError) const;

private:
    // The lines that hold one key, for the view.
    struct KeyLines
    {
        std::string value;          // that of the last of these lines: the last line wins
        std::vector<size_t> lines;  // their positions in FLines, ascending; those before first are gone
        size_t first = 0;
    };

    void parseIfNeeded() const;
    void addToView(size_t pos) const;
    void removeFirstLine(std::unordered_map<std::string, KeyLines>::iterator it);
    // Closes the gaps that removed lines left, before anything counts lines by index.
    void pack() const;

    // SetValue and DeleteKey keep the view up to date instead of throwing it away, and only mark
    // the line they remove: a settings section rewritten key by key then costs no more than
    // writing it once. Everything that reads lines by index packs them first, so it is a cache of
    // the lines' reading and their removal, filled and packed by the const readers too.
    mutable std::vector<TStringListElement> FLines;
    mutable std::vector<unsigned char> FRemoved;   // empty, or 1 for each removed line of FLines
    mutable size_t FRemovedCount = 0;
    mutable std::unordered_map<std::string, KeyLines> FValues;
    mutable bool FParsed = false;
    std::string FLineSeparator = "\n";
};

} // namespace Tr
