#include <gtest/gtest.h>

#include "core/TrList.h"

#include <vector>

namespace {

std::vector<int> freed;
void freeInt(int* p)
{
    freed.push_back(*p);
}

} // namespace

TEST(TrList, OwningListFreesOnClearAndDestructionButNotOnRemove)
{
    int values[] = {10, 20, 30};
    freed.clear();
    {
        Tr::TList<int*> owning(freeInt);
        for (int& v : values)
            owning.Add(&v);
        owning.Remove(0);
        owning.Remove(5);
        owning.Remove(-1);
        ASSERT_EQ(owning.Count(), 2) << "an index outside the list is ignored";
        EXPECT_EQ(owning[0], &values[1]);
        EXPECT_TRUE(freed.empty()) << "Remove never frees";
        owning.Clear();
        EXPECT_EQ(freed, (std::vector<int>{20, 30})) << "Clear frees once each, first to last";
        owning.Add(&values[0]);
    }
    EXPECT_EQ(freed, (std::vector<int>{20, 30, 10})) << "the destructor frees what is left";
}
