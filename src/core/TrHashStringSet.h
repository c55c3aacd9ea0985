// Hands out one number per distinct text, ignoring case; numbers are unique across all sets of a
// run, start at 1 and are never reused. 0 means "not known".
#pragma once

#include <map>
#include <string>

namespace Tr {

class THashStringSet
{
public:
    THashStringSet() = default;
    virtual ~THashStringSet() = default;

    void Clear() { FIds.clear(); }
    unsigned int getID(const std::string& s, unsigned char create);

private:
    std::map<std::string, unsigned int> FIds;
    static unsigned int IDCounter;
};

} // namespace Tr
