#include "TrUtil.h"

#include "TrAssert.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace Tr {

const char HexDigits[17] = "0123456789ABCDEF";

namespace {

// The C library's character functions take the byte as an unsigned value; a negative char
// (any UTF-8 byte) would be undefined behaviour.
int uc(char c)
{
    return static_cast<unsigned char>(c);
}

// Index of the 1-based pos in a text of n bytes, or -1 when pos + len - 1 would leave it.
long long rangeStart(std::size_t n, int pos, int len)
{
    long long start = static_cast<long long>(pos) - 1;
    if (pos < 1 || start + len > static_cast<long long>(n))
        return -1;
    return start;
}

// Hexadecimal value of [first, last), read from the last digit with a 32-bit place value, so
// only the last eight digits count. False at a non-hex character.
bool readHex(const char* first, const char* last, unsigned& value)
{
    unsigned result = 0;
    unsigned place = 1;
    for (const char* p = last; p != first;)
    {
        int digit = HexToInt(*--p);
        if (digit < 0)
            return false;
        result += static_cast<unsigned>(digit) * place;
        place *= 16;
    }
    value = result;
    return true;
}

// Decimal value of s, read from the last digit; a '-' as first character negates. Arithmetic
// is unsigned 32-bit, so an overlong number wraps instead of overflowing. On a non-digit,
// value holds the digits to its right and the result is false.
bool readDecimal(const std::string& s, int& value)
{
    unsigned result = 0;
    unsigned place = 1;
    for (std::size_t i = s.size(); i-- > 0;)
    {
        int digit = StrToInt(s[i]);
        if (digit >= 0)
        {
            result += static_cast<unsigned>(digit) * place;
            place *= 10;
        }
        else if (i == 0 && s[i] == '-')
            result = 0u - result;
        else
        {
            value = static_cast<int>(result);
            return false;
        }
    }
    value = static_cast<int>(result);
    return true;
}

// Arithmetic shift right by 4 that keeps the sign on every compiler.
int shiftHexDigit(int v)
{
    return v < 0 ? ~(~v >> 4) : v >> 4;
}

bool equalBytes(const char* a, const char* b, std::size_t n, bool ignoreCase)
{
    if (!ignoreCase)
        return std::memcmp(a, b, n) == 0;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(uc(a[i])) != std::tolower(uc(b[i])))
            return false;
    return true;
}

// Kinds of the arguments a FormatSn call passes: 's' a C text, 'i' an int.
// True when every conversion of fmt takes the argument of its place safely.
bool formatFitsArguments(const char* fmt, const char* kinds)
{
    for (const char* p = fmt; *p != '\0'; ++p)
    {
        if (*p != '%')
            continue;
        ++p;
        if (*p == '%')
            continue;
        while (*p != '\0' && std::strchr("-+ #0'", *p) != nullptr)
            ++p;
        while (std::isdigit(uc(*p)))
            ++p;
        if (*p == '.')
        {
            ++p;
            while (std::isdigit(uc(*p)))
                ++p;
        }
        int shortModifiers = 0;
        while (*p == 'h')
        {
            ++p;
            ++shortModifiers;
        }
        const char conversion = *p;
        if (conversion == '\0' || *kinds == '\0')
            return false;                                   // cut off, or more conversions than arguments
        const char kind = *kinds++;
        if (kind == 's')
        {
            if (conversion != 's' || shortModifiers != 0)
                return false;
        }
        else if (shortModifiers > 2 || std::strchr("diouxXc", conversion) == nullptr)
            return false;                                   // also rejects '*', '$', 'n' and wider types
    }
    return true;
}

// Cuts a result that filled the buffer back to the end of its last complete UTF-8 character.
std::size_t utf8SafeLength(const char* text, std::size_t length)
{
    std::size_t lead = length;
    int continuation = 0;
    while (lead > 0 && continuation < 4 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80)
    {
        --lead;
        ++continuation;
    }
    if (lead == 0)
        return length;
    const unsigned char first = static_cast<unsigned char>(text[lead - 1]);
    std::size_t needed = 1;
    if ((first & 0xE0) == 0xC0)
        needed = 2;
    else if ((first & 0xF0) == 0xE0)
        needed = 3;
    else if ((first & 0xF8) == 0xF0)
        needed = 4;
    else
        return length;                                      // ASCII or a stray byte: keep as is
    return continuation + 1 >= static_cast<int>(needed) ? length : lead - 1;
}

std::string formatChecked(const std::string& fmt, const char* kinds, ...)
{
    if (!formatFitsArguments(fmt.c_str(), kinds))
        return fmt;
    va_list args;
    va_start(args, kinds);
    std::string result = UString::FormatV(fmt.c_str(), args);
    va_end(args);
    return result;
}

// The run of digits from the 0-based pos; count says how many were used. Unsigned arithmetic,
// so a long run wraps instead of overflowing.
int readDigitRun(const std::string& s, int pos, int& count, int (*digitOf)(char), unsigned base)
{
    count = 0;
    unsigned value = 0;
    if (pos < 0)
        return 0;
    for (std::size_t i = static_cast<std::size_t>(pos); i < s.size(); ++i)
    {
        const int digit = digitOf(s[i]);
        if (digit < 0)
            break;
        value = value * base + static_cast<unsigned>(digit);
        ++count;
    }
    return static_cast<int>(value);
}

const char* const EditionNames[] = {"Lite", "Standard", "Professional", "Studio", "Developer"};

} // namespace

// ---- characters

char LoCase(char c)
{
    return static_cast<char>(std::tolower(uc(c)));
}

char UpCase(char c)
{
    return static_cast<char>(std::toupper(uc(c)));
}

int HexToInt(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

int StrToInt(char c)
{
    return (c >= '0' && c <= '9') ? c - '0' : -1;
}

bool IsLetterOrNumberChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsLetterOrNumberChar(wchar_t c)
{
    return std::iswalpha(static_cast<wint_t>(c)) || std::iswdigit(static_cast<wint_t>(c));
}

bool IsWhiteSpace(char c)
{
    return uc(c) <= 32;
}

bool IsNumberChar(char c)
{
    return std::isdigit(uc(c)) != 0;
}

bool IsHexNumberChar(char c)
{
    return std::isxdigit(uc(c)) != 0;
}

int GetWStringLength(const wchar_t* s)
{
    return s != nullptr ? static_cast<int>(std::wcslen(s)) : 0;
}

// ---- comparison and tests

int CompareText(const std::string& a, const std::string& b)
{
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i)
    {
        // Equal bytes fold equally: only bytes that differ need the case table.
        if (a[i] == b[i])
            continue;
        // Compared as signed bytes: bytes 0x80..0xFF sort before every ASCII byte.
        const signed char ca = static_cast<signed char>(std::toupper(uc(a[i])));
        const signed char cb = static_cast<signed char>(std::toupper(uc(b[i])));
        if (ca != cb)
            return ca > cb ? 1 : -1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool StrStartsWith(const std::string& s, const std::string& prefix, bool ignoreCase)
{
    return prefix.size() <= s.size() && equalBytes(s.data(), prefix.data(), prefix.size(), ignoreCase);
}

bool StrStartsWithPos(const std::string& s, const std::string& prefix, int pos, bool ignoreCase)
{
    const std::size_t start = pos > 1 ? static_cast<std::size_t>(pos) - 1 : 0;
    if (start > s.size() || s.size() - start < prefix.size())
        return false;
    return equalBytes(s.data() + start, prefix.data(), prefix.size(), ignoreCase);
}

bool StrEndsWith(const std::string& s, const std::string& suffix, bool ignoreCase)
{
    if (suffix.size() > s.size())
        return false;
    return StrStartsWithPos(s, suffix, static_cast<int>(s.size() - suffix.size()) + 1, ignoreCase);
}

bool StrEndsWith(const std::string& s, char c, bool ignoreCase)
{
    if (s.empty())
        return false;
    if (ignoreCase)
        return std::toupper(uc(s.back())) == std::toupper(uc(c));
    return s.back() == c;
}

bool StrStartsWith(const std::wstring& s, const std::wstring& prefix, bool ignoreCase)
{
    if (prefix.size() > s.size())
        return false;
    // Folded character by character: a detour through narrow text would turn every text the
    // locale cannot convert into "" and make unrelated texts match.
    for (std::size_t i = 0; i < prefix.size(); ++i)
    {
        wint_t a = static_cast<wint_t>(s[i]);
        wint_t b = static_cast<wint_t>(prefix[i]);
        if (ignoreCase)
        {
            a = std::towlower(a);
            b = std::towlower(b);
        }
        if (a != b)
            return false;
    }
    return true;
}

int StrPos(const std::string& sub, const std::string& s, bool ignoreCase)
{
    const std::size_t found = ignoreCase ? LowerCase(s).find(LowerCase(sub)) : s.find(sub);
    return found == std::string::npos ? 0 : static_cast<int>(found) + 1;
}

// ---- number conversions

int HexToInt(const std::string& s)
{
    return HexToIntD(s, -1);
}

int HexToIntD(const std::string& s, int def)
{
    unsigned value = 0;
    return readHex(s.data(), s.data() + s.size(), value) ? static_cast<int>(value) : def;
}

int HexToIntPos(const std::string& s, int pos, int len)
{
    int value = 0;
    return HexToIntPos(s, pos, len, value) ? value : -1;
}

bool HexToIntPos(const std::string& s, int pos, int len, int& value)
{
    value = 0;
    if (len < 1)
        return true;
    const long long start = rangeStart(s.size(), pos, len);
    if (start < 0)
        return false;
    unsigned result = 0;
    const char* first = s.data() + start;
    if (!readHex(first, first + len, result))
        return false;
    value = static_cast<int>(result);
    return true;
}

int StrToIntDef(const std::string& s, int def)
{
    int value = 0;
    return readDecimal(s, value) ? value : def;
}

bool StrToInt(const std::string& s, int& value)
{
    return readDecimal(s, value);
}

std::string IntToHex(int value, int minDigits)
{
    return IntToHexLen(value, minDigits, 8);
}

std::string IntToHexLen(int value, int minDigits, int maxDigits)
{
    if (maxDigits < 1 || maxDigits > 8)
        maxDigits = 8;
    if (minDigits < 1)
        minDigits = 1;
    char digits[8];
    int n = 0;
    do
    {
        digits[n++] = HexDigits[value & 0xF];
        value = shiftHexDigit(value);
    } while (n < maxDigits && (n < minDigits || value != 0));
    std::string result(digits, static_cast<std::size_t>(n));
    std::reverse(result.begin(), result.end());
    return result;
}

void IntToHexLenPos(std::string& s, int value, int len, int pos)
{
    const std::size_t start = pos > 1 ? static_cast<std::size_t>(pos) - 1 : 0;
    for (int i = 0; i < len && start + static_cast<std::size_t>(i) < s.size(); ++i)
    {
        // Digit k counted from the low end; beyond eight digits only the sign remains.
        const int k = len - 1 - i;
        int digit;
        if (k >= 8)
            digit = value < 0 ? 0xF : 0;
        else
            digit = static_cast<int>((static_cast<unsigned>(value) >> (4 * k)) & 0xF);
        s[start + static_cast<std::size_t>(i)] = HexDigits[digit];
    }
}

std::string FtoStr(double value, int /*width*/, int /*decimals*/)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%3.1lf", value);
    return buffer;
}

double parseDouble(const std::string& s)
{
    return std::atof(s.c_str());
}

int parseInt(const std::string& s, int pos, int& count)
{
    return readDigitRun(s, pos, count, StrToInt, 10);
}

int parseHex(const std::string& s, int pos, int& count)
{
    return readDigitRun(s, pos, count, HexToInt, 16);
}

int parseNumber(const std::string& s, int pos, int& value)
{
    const std::size_t n = s.size();
    const std::size_t start = pos > 1 ? static_cast<std::size_t>(pos) - 1 : 0;
    std::size_t i = start;
    bool hasSign = false;
    bool negative = false;
    if (i < n && (s[i] == '+' || s[i] == '-'))
    {
        hasSign = true;
        negative = s[i] == '-';
        ++i;
    }
    bool hex = false;
    bool zeroX = false;
    if (i < n && s[i] == '$')
    {
        hex = true;
        ++i;
    }
    else if (i + 1 < n && s[i] == '0' && s[i + 1] == 'x')
    {
        hex = zeroX = true;
        i += 2;
    }
    if (hex && i < n && (s[i] == '+' || s[i] == '-'))
    {
        if (hasSign)
            return 0;
        hasSign = true;
        negative = s[i] == '-';
        ++i;
    }
    const std::size_t digitsStart = i;
    while (i < n && (hex ? IsHexNumberChar(s[i]) : IsNumberChar(s[i])))
        ++i;
    if (i == digitsStart)
    {
        if (zeroX && digitsStart == start + 2)
        {
            value = 0;
            return 1;
        }
        return 0;
    }
    const std::string digits = s.substr(digitsStart, i - digitsStart);
    int v = hex ? HexToIntD(digits, -1) : StrToIntDef(digits, -1);
    if (negative && v >= 0)
        v = -v;
    value = v;
    return static_cast<int>(i - start);
}

bool parseNumber(const std::string& s, int& value)
{
    // An empty text holds no number, so it is not a success.
    return !s.empty() && parseNumber(s, 1, value) == static_cast<int>(s.size());
}

// ---- other text functions

void SetString(std::string& s, const char* p, int len)
{
    s.clear();
    if (p == nullptr)
        return;
    if (len < 0)
        s = p;
    else if (len >= 2)
        s.assign(p, static_cast<std::size_t>(len));
}

std::string LowerCase(const std::string& s)
{
    std::string result = s;
    makeLowercase(result);
    return result;
}

std::string UpperCase(const std::string& s)
{
    std::string result = s;
    makeUppercase(result);
    return result;
}

void makeLowercase(std::string& s)
{
    for (char& c : s)
        c = LoCase(c);
}

void makeUppercase(std::string& s)
{
    for (char& c : s)
        c = UpCase(c);
}

std::string Trim(const std::string& s)
{
    std::size_t first = 0;
    std::size_t last = s.size();
    while (first < last && IsWhiteSpace(s[first]))
        ++first;
    while (last > first && IsWhiteSpace(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

std::string RemoveQuotes(const std::string& s)
{
    std::string t = Trim(s);
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"')
        return t.substr(1, t.size() - 2);
    return t;
}

std::string EscapeString(const std::string& s)
{
    std::string result;
    result.reserve(s.size());
    for (char c : s)
    {
        switch (c)
        {
            case 8: result += "\\a"; break;
            case 9: result += "\\t"; break;
            case 10: result += "\\n"; break;
            case 13: result += "\\r"; break;
            case '\\': result += "\\\\"; break;
            default: result += c; break;
        }
    }
    return result;
}

std::string UnEscapeString(const std::string& s)
{
    std::string result;
    result.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i)
    {
        if (s[i] != '\\')
        {
            result += s[i];
            continue;
        }
        if (++i == s.size())
            break;                                          // a lone backslash at the end is dropped
        switch (s[i])
        {
            case 'a': result += '\x08'; break;
            case 't': result += '\t'; break;
            case 'n': result += '\n'; break;
            case 'r': result += '\r'; break;
            default: result += s[i]; break;
        }
    }
    return result;
}

std::string StrReplaceOnce(const std::string& s, const std::string& find, const std::string& replace, bool ignoreCase)
{
    if (find.empty())
        return s;
    const int at = StrPos(find, s, ignoreCase);
    if (at == 0)
        return s;
    const std::size_t i = static_cast<std::size_t>(at - 1);
    return s.substr(0, i) + replace + s.substr(i + find.size());
}

std::string StrReplaceAll(const std::string& s, const std::string& find, const std::string& replace, bool ignoreCase)
{
    if (find.empty() || StrPos(find, replace, ignoreCase) != 0)
        return s;
    std::string text = s;
    for (;;)
    {
        const int at = StrPos(find, text, ignoreCase);
        if (at == 0)
            return text;
        const std::size_t i = static_cast<std::size_t>(at - 1);
        text = text.substr(0, i) + replace + text.substr(i + find.size());
    }
}

std::string ExtractTokenizedString(const std::string& s, int& pos, char separator)
{
    if (pos < 0 || static_cast<std::size_t>(pos) >= s.size())
        return std::string();
    std::size_t end = s.find(separator, static_cast<std::size_t>(pos));
    if (end == std::string::npos)
        end = s.size();
    std::string token = s.substr(static_cast<std::size_t>(pos), end - static_cast<std::size_t>(pos));
    pos = static_cast<int>(end);
    return token;
}

std::string formatMidiMessage(const unsigned char* data, int count)
{
    std::string result;
    if (data == nullptr || count < 1)
        return result;
    result.reserve(static_cast<std::size_t>(count) * 3);
    for (int i = 0; i < count; ++i)
    {
        if (i > 0)
            result += ' ';
        result += HexDigits[data[i] >> 4];
        result += HexDigits[data[i] & 0xF];
    }
    return result;
}

// ---- wide strings

std::string StringFrom(const wchar_t* s)
{
    if (s == nullptr || *s == L'\0')
        return std::string();
    // Measured first: a character may need several bytes, so the wide length is no bound.
    std::mbstate_t state{};
    const wchar_t* src = s;
    const std::size_t n = std::wcsrtombs(nullptr, &src, 0, &state);
    if (n == static_cast<std::size_t>(-1))
        return std::string();
    std::vector<char> buffer(n + 1);
    state = std::mbstate_t{};
    src = s;
    if (std::wcsrtombs(buffer.data(), &src, buffer.size(), &state) == static_cast<std::size_t>(-1))
        return std::string();
    return std::string(buffer.data(), n);
}

std::wstring WStringFrom(const std::string& s)
{
    std::mbstate_t state{};
    const char* src = s.c_str();
    const std::size_t n = std::mbsrtowcs(nullptr, &src, 0, &state);
    if (n == static_cast<std::size_t>(-1))
        return std::wstring();
    std::vector<wchar_t> buffer(n + 1);
    state = std::mbstate_t{};
    src = s.c_str();
    if (std::mbsrtowcs(buffer.data(), &src, buffer.size(), &state) == static_cast<std::size_t>(-1))
        return std::wstring();
    return std::wstring(buffer.data(), n);
}

std::string Format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string result = UString::FormatV(fmt, args);
    va_end(args);
    return result;
}

bool FormatWidthsWithin(const std::string& fmt, int limit)
{
    auto inConversion = [&fmt](std::size_t i) {
        return i < fmt.size() && fmt[i] != '\0' && std::strchr("-+ #0'.$*123456789", fmt[i]) != nullptr;
    };
    for (std::size_t i = 0; i < fmt.size(); ++i)
    {
        if (fmt[i] != '%')
            continue;
        if (++i < fmt.size() && fmt[i] == '%')
            continue;
        // Every number up to the conversion letter: argument number, width and precision.
        while (inConversion(i))
        {
            long long number = 0;
            for (; i < fmt.size() && std::isdigit(uc(fmt[i])); ++i)
                number = std::min<long long>(number * 10 + (fmt[i] - '0'), limit + 1LL);
            if (number > limit)
                return false;
            if (inConversion(i) && !std::isdigit(uc(fmt[i])))
                ++i;
        }
    }
    return true;
}

// ---- editions

ZREdition getZREdition()
{
    return zrEditionStandard;
}

const char* getEditionName(ZREdition e)
{
    if (e < zrEditionLite || e > zrEditionDeveloper)
        TR_FAIL();
    return EditionNames[e];
}

const char* getEditionName()
{
    return getEditionName(getZREdition());
}

// ---- UString

const std::string& UString::Empty()
{
    static const std::string empty;
    return empty;
}

std::string UString::charToString(char c)
{
    return std::string(1, c);
}

std::string UString::FromInt(int value)
{
    return std::to_string(value);
}

std::string UString::FormatS1(const std::string& fmt, const std::string& s1)
{
    return formatChecked(fmt, "s", s1.c_str());
}

std::string UString::FormatS1(const std::string& fmt, int i1)
{
    return formatChecked(fmt, "i", i1);
}

std::string UString::FormatS2(const std::string& fmt, const std::string& s1, const std::string& s2)
{
    return formatChecked(fmt, "ss", s1.c_str(), s2.c_str());
}

std::string UString::FormatS2(const std::string& fmt, const std::string& s1, int i1)
{
    return formatChecked(fmt, "si", s1.c_str(), i1);
}

std::string UString::FormatS3(const std::string& fmt, const std::string& s1, int i1, int i2)
{
    return formatChecked(fmt, "sii", s1.c_str(), i1, i2);
}

std::string UString::FormatS3(const std::string& fmt, const std::string& s1, const std::string& s2, const std::string& s3)
{
    return formatChecked(fmt, "sss", s1.c_str(), s2.c_str(), s3.c_str());
}

std::string UString::FormatS4(const std::string& fmt, const std::string& s1, const std::string& s2,
                              const std::string& s3, const std::string& s4)
{
    return formatChecked(fmt, "ssss", s1.c_str(), s2.c_str(), s3.c_str(), s4.c_str());
}

std::string UString::FormatS5(const std::string& fmt, const std::string& s1, const std::string& s2,
                              const std::string& s3, const std::string& s4, const std::string& s5)
{
    return formatChecked(fmt, "sssss", s1.c_str(), s2.c_str(), s3.c_str(), s4.c_str(), s5.c_str());
}

std::string UString::FormatS6(const std::string& fmt, const std::string& s1, const std::string& s2,
                              const std::string& s3, const std::string& s4, const std::string& s5,
                              const std::string& s6)
{
    return formatChecked(fmt, "ssssss", s1.c_str(), s2.c_str(), s3.c_str(), s4.c_str(), s5.c_str(), s6.c_str());
}

std::string UString::FormatV(const char* fmt, va_list args)
{
    if (fmt == nullptr)
        return std::string();
    char buffer[FormatBufferSize];
    const int written = std::vsnprintf(buffer, sizeof buffer, fmt, args);
    if (written < 0)
        return std::string();
    if (written < FormatBufferSize)
        return std::string(buffer, static_cast<std::size_t>(written));
    // vsnprintf stopped at the end of the buffer; never leave half a character behind.
    return std::string(buffer, utf8SafeLength(buffer, sizeof buffer - 1));
}

std::string UString::FormatV(const std::string& fmt, va_list args)
{
    return FormatV(fmt.c_str(), args);
}

} // namespace Tr
