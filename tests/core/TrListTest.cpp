#include <gtest/gtest.h>

#include "core/TrList.h"

#include <vector>

namespace {

std::vector<int> freed;
void freeInt(int* p)
{
    freed.push_back(*p);
}

// A derived list that changes how elements are added, as the alias list does.
class UniqueList : public Tr::TList<int*>
{
public:
    void Add(int* item) override
    {
        for (int* present : *this)
            if (present == item)
                return;
        Tr::TList<int*>::Add(item);
    }
};

} // namespace

TEST(TrList, AddRemoveAndClearWithoutOwnership)
{
    int a = 1, b = 2, c = 3;
    Tr::TList<int*> list;
    EXPECT_EQ(list.Count(), 0);
    list.Add(&a);
    list.Add(&b);
    list.Add(&c);
    list.Remove(0);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0], &b);
    EXPECT_EQ(list.Get(1), &c);
    list.Remove(5);
    list.Remove(-1);
    EXPECT_EQ(list.GetCount(), 2) << "an index outside the list is ignored";
    list.Add(&b);
    list.Add(nullptr);
    EXPECT_EQ(list.Count(), 4) << "duplicates and null are accepted";
    list[3] = &a;
    EXPECT_EQ(list[3], &a);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(a + b + c, 6);
}

TEST(TrList, FreeFunctionRunsOnClearAndDestructionButNotOnRemove)
{
    int values[] = {10, 20, 30};
    freed.clear();
    {
        Tr::TList<int*> owning(freeInt);
        for (int& v : values)
            owning.Add(&v);
        owning.Remove(1);
        EXPECT_TRUE(freed.empty()) << "Remove never frees";
        owning.Clear();
        EXPECT_EQ(freed, (std::vector<int>{10, 30})) << "freed once each, first to last";
        owning.Add(&values[1]);
    }
    EXPECT_EQ(freed, (std::vector<int>{10, 30, 20}));

    freed.clear();
    Tr::TList<int*>* viaBase = new Tr::TList<int*>(freeInt);
    viaBase->Add(&values[2]);
    delete viaBase;
    EXPECT_EQ(freed, std::vector<int>{30});
}

TEST(TrList, DerivedListOverridesAdd)
{
    int a = 1;
    UniqueList unique;
    Tr::TList<int*>& base = unique;
    base.Add(&a);
    base.Add(&a);
    EXPECT_EQ(base.Count(), 1);
}

TEST(TrListDeathTest, IndexOutsideTheListIsAnAssertion)
{
    Tr::TList<int*> list;
    EXPECT_DEATH(list[0], "failed assertion `index >= 0 && index < Count\\(\\)'");
}
