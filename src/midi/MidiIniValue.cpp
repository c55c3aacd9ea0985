#include "midi/MidiIniValue.h"

namespace Tr {

std::string EncodeMidiIniValue(const std::string& value)
{
    const bool raw = value.empty()
                     || (value[0] != ' ' && value[0] != '\t' && value[0] != '"'
                         && value.find_first_of("\r\n") == std::string::npos);
    if (raw)
        return value;
    std::string quoted = "\"";
    for (const char c : value) {
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

} // namespace Tr
