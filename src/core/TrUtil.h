#pragma once

#include <cstdarg>
#include <string>

// String functions of the runtime library: character classes, case, comparison, decimal and
// hexadecimal conversion, formatting, trimming, escaping, search and replace, wide strings.
// Text is std::string of bytes. Conversions report bad input through their result (-1, a
// default, false, 0 or an empty text); nothing here throws.
// Positions are 0-based unless a comment says 1-based.

namespace Tr {

extern const char HexDigits[17];                    // "0123456789ABCDEF"

// ---- characters
char LoCase(char c);
char UpCase(char c);
int HexToInt(char c);                               // 0..15 for 0-9, A-F, a-f; else -1
int StrToInt(char c);                               // 0..9 for a decimal digit; else -1
bool IsLetterOrNumberChar(char c);                  // ASCII letters and digits only
bool IsLetterOrNumberChar(wchar_t c);               // as the C library (locale) classes it
bool IsWhiteSpace(char c);                          // bytes 0..32 only; never a UTF-8 byte
bool IsNumberChar(char c);
bool IsHexNumberChar(char c);
int GetWStringLength(const wchar_t* s);             // 0 for null

// ---- comparison and tests
// Case-insensitive order: -1, 0 or 1. Bytes 0x80..0xFF sort before ASCII; a prefix sorts first.
int CompareText(const std::string& a, const std::string& b);
bool StrStartsWith(const std::string& s, const std::string& prefix, bool ignoreCase = false);
bool StrStartsWithPos(const std::string& s, const std::string& prefix, int pos, bool ignoreCase = false); // pos 1-based
bool StrEndsWith(const std::string& s, const std::string& suffix, bool ignoreCase = false);
bool StrEndsWith(const std::string& s, char c, bool ignoreCase = false);
bool StrStartsWith(const std::wstring& s, const std::wstring& prefix, bool ignoreCase = false);
int StrPos(const std::string& sub, const std::string& s, bool ignoreCase = false); // 1-based; 0 = absent

// ---- number conversions
int HexToInt(const std::string& s);                 // "" gives 0; a non-hex character gives -1
int HexToIntD(const std::string& s, int def);       // a non-hex character gives def
// len characters from the 1-based pos; len < 1 gives 0; a non-hex character, or a range that
// leaves s, gives -1 (the four-argument form: false with value 0).
int HexToIntPos(const std::string& s, int pos, int len);
bool HexToIntPos(const std::string& s, int pos, int len, int& value);
int StrToIntDef(const std::string& s, int def);     // "" gives 0; a leading '-' negates
bool StrToInt(const std::string& s, int& value);
std::string IntToHex(int value, int minDigits);     // upper case, minDigits..8 digits
std::string IntToHexLen(int value, int minDigits, int maxDigits); // the low maxDigits digits
void IntToHexLenPos(std::string& s, int value, int len, int pos); // in place, 1-based, cut at the end of s
std::string FtoStr(double value, int width, int decimals);        // always "%3.1lf"
double parseDouble(const std::string& s);
int parseInt(const std::string& s, int pos, int& count);   // decimal digits from pos; count = digits used
int parseHex(const std::string& s, int pos, int& count);   // hex digits from pos; count = digits used
// A signed decimal, or hexadecimal after '$' or "0x", from the 1-based pos. Returns the number
// of characters used; value is set only when a number was read.
int parseNumber(const std::string& s, int pos, int& value);
bool parseNumber(const std::string& s, int& value);        // a number that fills all of s

// ---- other text functions
// Copies from p: len < 0 the whole C string, len 0 or 1 nothing, len >= 2 len bytes.
void SetString(std::string& s, const char* p, int len);
std::string LowerCase(const std::string& s);
std::string UpperCase(const std::string& s);
void makeLowercase(std::string& s);
void makeUppercase(std::string& s);
std::string Trim(const std::string& s);
std::string RemoveQuotes(const std::string& s);
std::string EscapeString(const std::string& s);
std::string UnEscapeString(const std::string& s);
std::string StrReplaceOnce(const std::string& s, const std::string& find, const std::string& replace, bool ignoreCase = false);
// Refuses (returns s) when replace contains find, so the replacement cannot go on for ever.
std::string StrReplaceAll(const std::string& s, const std::string& find, const std::string& replace, bool ignoreCase = false);
// From pos up to the next separator; pos is left on the separator or at the end of s.
std::string ExtractTokenizedString(const std::string& s, int& pos, char separator);
std::string formatMidiMessage(const unsigned char* data, int count); // "90 3C 7F"; "" for count < 1

// ---- wide strings (through the C library's current locale)
std::string StringFrom(const wchar_t* s);           // "" for null, empty or unconvertible
std::wstring WStringFrom(const std::string& s);     // empty when unconvertible

// printf-style formatting of a format that the compiler can see.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// True when no conversion of fmt asks for a field width, precision or argument number above
// limit. Padding to a huge width takes seconds per message, so a translated format that asks for
// one is not used.
bool FormatWidthsWithin(const std::string& fmt, int limit);

// ---- product editions
enum ZREdition
{
    zrEditionLite = 0,
    zrEditionStandard = 1,
    zrEditionPro = 2,
    zrEditionStudio = 3,
    zrEditionDeveloper = 4
};
ZREdition getZREdition();                           // zrEditionStandard
const char* getEditionName(ZREdition e);            // any other value is a failed assertion
const char* getEditionName();

// The static-only group of formatting and string helpers.
//
// Formats may come from a translation file, so FormatS1..FormatS6 check a format against the
// arguments they are given: a conversion that does not fit its argument (say %d for a text),
// more conversions than arguments, '*', '%n' or positional arguments make the result the
// format text itself, unfilled. Results longer than the 4000-byte buffer are cut at the end
// of the last whole UTF-8 character that fits.
class UString
{
public:
    UString() = delete;

    static constexpr int FormatBufferSize = 4000;

    static const std::string& Empty();
    static std::string charToString(char c);
    static std::string FromInt(int value);          // "%d"

    static std::string FormatS1(const std::string& fmt, const std::string& s1);
    static std::string FormatS1(const std::string& fmt, int i1);
    static std::string FormatS2(const std::string& fmt, const std::string& s1, const std::string& s2);
    static std::string FormatS2(const std::string& fmt, const std::string& s1, int i1);
    static std::string FormatS3(const std::string& fmt, const std::string& s1, int i1, int i2);
    static std::string FormatS3(const std::string& fmt, const std::string& s1, const std::string& s2, const std::string& s3);
    static std::string FormatS4(const std::string& fmt, const std::string& s1, const std::string& s2,
                                const std::string& s3, const std::string& s4);
    static std::string FormatS5(const std::string& fmt, const std::string& s1, const std::string& s2,
                                const std::string& s3, const std::string& s4, const std::string& s5);
    static std::string FormatS6(const std::string& fmt, const std::string& s1, const std::string& s2,
                                const std::string& s3, const std::string& s4, const std::string& s5,
                                const std::string& s6);
    // Unchecked: the caller vouches that the arguments match the format.
    static std::string FormatV(const char* fmt, va_list args);
    static std::string FormatV(const std::string& fmt, va_list args);

    // The translation of an English message text from section "strings" of "Language.ini" in
    // the working directory, or the text itself. Defined in TrResourceString.cpp.
    static std::string ResourceString(const char* text);
};

} // namespace Tr
