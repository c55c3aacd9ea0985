// TEMPORARY STAND-IN until the owner's TrUtil.h lands on main: only what the file layer needs.
#pragma once
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace Tr {

inline std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && (unsigned char)s[b] <= 32) ++b;
    while (e > b && (unsigned char)s[e - 1] <= 32) --e;
    return s.substr(b, e - b);
}

inline int CompareText(const std::string& a, const std::string& b)
{
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        int x = toupper((signed char)a[i]), y = toupper((signed char)b[i]);
        if (x != y) return x > y ? 1 : -1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

inline std::string UpperCase(const std::string& s)
{
    std::string r = s;
    for (auto& c : r) c = (char)toupper((signed char)c);
    return r;
}

inline int HexToInt(const std::string& s)
{
    unsigned v = 0, place = 1;
    for (size_t i = s.size(); i-- > 0; place *= 16) {
        char c = s[i];
        int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (d < 0) return -1;
        v += (unsigned)d * place;
    }
    return (int)v;
}

inline std::string IntToHexLen(int value, int minDigits, int maxDigits)
{
    if (maxDigits < 1 || maxDigits > 8) maxDigits = 8;
    if (minDigits < 1) minDigits = 1;
    std::string r;
    do {
        r.insert(r.begin(), "0123456789ABCDEF"[value & 15]);
        value >>= 4;
    } while ((int)r.size() < maxDigits && ((int)r.size() < minDigits || value != 0));
    return r;
}

inline std::string Format(const char* fmt, ...)
{
    char buf[4000];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

class UString
{
public:
    static const std::string& Empty() { static const std::string e; return e; }
    static std::string FromInt(int v) { return Format("%d", v); }
    static std::string FormatS1(const char* fmt, const std::string& s) { return Format(fmt, s.c_str()); }
    static std::string FormatS1(const char* fmt, int v) { return Format(fmt, v); }
    static std::string ResourceString(const char* text);
};

} // namespace Tr
