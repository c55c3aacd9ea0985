// An ordered list of text lines, each with an int tag, with a key=value view that is parsed from
// the lines when a value is first asked for and thrown away by every change of the lines.
#pragma once

#include <map>
#include <string>
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

    void Clear()
    {
        FLines.clear();
        ClearValues();
    }
    void Add(const std::string& text, int tag = 0)
    {
        FLines.push_back(TStringListElement{text, tag});
        ClearValues();
    }
    int Count() const { return (int)FLines.size(); }

    // A caller that rewrites a line's text through this access calls ClearValues() itself.
    TStringListElement& operator[](int index) { return FLines[(size_t)index]; }
    const TStringListElement& operator[](int index) const { return FLines[(size_t)index]; }
    const std::string& Get(int index) const { return FLines[(size_t)index].FText; }
    int GetTag(int index) const { return FLines[(size_t)index].FTag; }
    void Delete(int index)
    {
        FLines.erase(FLines.begin() + index);
        ClearValues();
    }
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
    int GetCapacity() const { return (int)FLines.capacity(); }
    void SetCapacity(int n);

    void SetText(const char* text, int len);
    void SetText(const std::string& text);

    bool LoadFromFile(const std::string& fileName, unsigned char throwOnError);
    bool SaveToFile(const std::string& fileName, unsigned char throwOnError) const;

private:
    void parseIfNeeded() const;

    std::vector<TStringListElement> FLines;
    // A cache of the lines' key=value reading, so it is filled by the const readers.
    mutable std::map<std::string, std::string> FValues;
    mutable bool FParsed = false;
    std::string FLineSeparator = "\n";
};

} // namespace Tr
