// Translated message texts: the English text is the key in section "strings" of "Language.ini"
// in the working directory, and the text itself when there is no translation.
#include "TrIniFile.h"
#include "TrUtil.h"

namespace Tr {

std::string UString::ResourceString(const char* text)
{
    // Read once, on the first call; later changes to the file show at the next start.
    static const TIniFile strings = [] {
        TIniFile ini("Language.ini");
        // No file, or an unreadable one, leaves every text untranslated.
        ini.ReadFromFileNoException();
        return ini;
    }();
    static const std::string section("strings");

    const std::string english = text ? text : "";
    const std::string translated = strings.ReadString(section, english, english);
    // Far wider than any message; a translation asking for more is broken or hostile.
    return FormatWidthsWithin(translated, 1024) ? translated : english;
}

} // namespace Tr
