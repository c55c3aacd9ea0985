#include "TrHashStringSet.h"

#include "TrUtil.h"

namespace Tr {

unsigned int THashStringSet::IDCounter = 1;

unsigned int THashStringSet::getID(const std::string& s, unsigned char create)
{
    const std::string key = UpperCase(s);
    auto it = FIds.find(key);
    if (it != FIds.end())
        return it->second;
    if (!create)
        return 0;
    const unsigned int id = IDCounter++;
    FIds[key] = id;
    return id;
}

} // namespace Tr
