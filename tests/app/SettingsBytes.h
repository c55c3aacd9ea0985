// The 546-byte settings message as the tests look at it: where each byte lies, and the messages a
// settings object saves or a file holds.
#pragma once

#include "QuorvaSettings.h"
#include "core/TempFolder.h"

#include <set>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;
using Offsets = std::set<std::size_t>;

// Program p's block starts at 36p - 35: marker, type, then pitch and setting of each step.
inline std::size_t blockOf(int program) { return std::size_t(36 * program - 35); }
inline std::size_t pitchOf(int program, int step) { return blockOf(program) + 2 + 2 * std::size_t(step); }
inline std::size_t settingOf(int program, int step) { return pitchOf(program, step) + 1; }

inline Bytes savedBy(const QuorvaSettings& settings)
{
    Bytes out(QUORVA_TEMPLATE_SIZE_BYTES);
    settings.saveToMem(out.data(), QUORVA_TEMPLATE_SIZE_BYTES);
    return out;
}
inline Bytes readBytes(const std::string& path)
{
    const std::string s = TempFolder::readFile(path);
    return Bytes(s.begin(), s.end());
}
inline Offsets changedBytes(const Bytes& before, const Bytes& after)
{
    Offsets changed;
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i)
        if (before[i] != after[i])
            changed.insert(i);
    return changed;
}
// The offsets between the markers where `after` holds a byte >= 0x80 that `before` did not.
inline std::string introducedHighBytes(const Bytes& before, const Bytes& after)
{
    std::string where;
    for (std::size_t i = 1; i + 1 < after.size(); ++i)
        if (after[i] >= 0x80 && (i >= before.size() || before[i] < 0x80))
            where += " " + std::to_string(i);
    return where;
}
