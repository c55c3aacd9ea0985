#pragma once

#include <string>

namespace Tr {

// The ini file writes values raw but reads them through its value parser, which drops leading
// blanks, reads a leading double quote as the start of a quoted value and cannot see past a line
// break. Alias and port names are not ours to choose, so a value that would not read back unchanged
// is written in the parser's quoted form instead; every other value stays raw, as always.
std::string EncodeMidiIniValue(const std::string& value);

} // namespace Tr
