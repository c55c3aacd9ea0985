#include <gtest/gtest.h>

#include "core/TrAutoDelete.h"
#include "core/TrException.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> deleted;

class Tracked : public Tr::AutoDelete
{
public:
    explicit Tracked(std::string name) : FName(std::move(name)) {}
    ~Tracked() override { deleted.push_back(FName); }
    std::string FName;
};

// What a destructor run by the shutdown walk may do: delete a later object, register a new one,
// or call shutdown again.
class BusyDestructor : public Tracked
{
public:
    using Tracked::Tracked;
    ~BusyDestructor() override
    {
        delete FOther;
        if (FCreate)
            new Tracked("late");
        Tr::VuskSystem::shutdown();
    }
    Tracked* FOther = nullptr;
    bool FCreate = false;
};

class Registry : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Tr::VuskSystem::shutdown();
        deleted.clear();
    }
    void TearDown() override { Tr::VuskSystem::shutdown(); }
};

int entries()
{
    const Tr::TList<Tr::AutoDelete*>* list = Tr::VuskSystem::GetAutoDeletes();
    return list != nullptr ? list->Count() : -1;
}

} // namespace

TEST_F(Registry, DeletesInRegistrationOrderAndSkipsNullEntries)
{
    auto* a = new Tracked("a");
    auto* b = new Tracked("b");
    new Tracked("c");
    Tr::VuskSystem::AddAutoDelete(a);
    EXPECT_EQ(entries(), 3) << "registering twice leaves one entry";

    delete b;
    EXPECT_EQ(entries(), 3) << "a destroyed object leaves its entry";
    EXPECT_EQ((*Tr::VuskSystem::GetAutoDeletes())[1], nullptr);

    Tr::VuskSystem::shutdown();
    EXPECT_EQ(deleted, (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(Tr::VuskSystem::GetAutoDeletes(), nullptr);
    Tr::VuskSystem::shutdown();
    EXPECT_EQ(deleted.size(), 3u) << "a second shutdown does nothing";

    delete new Tracked("only");
    EXPECT_TRUE(Tr::VuskSystem::hasAutoDeletes()) << "a null entry keeps the registry until shutdown";
    Tr::VuskSystem::shutdown();
    new Tracked("after");
    EXPECT_EQ(entries(), 1) << "an object made after shutdown starts a new registry";
}

TEST_F(Registry, DestructorsThatDeleteRegisterOrShutDownKeepTheWalkValid)
{
    new Tracked("first");
    // The victim is registered after its deleter, so the walk reaches the deleter first.
    auto* deleter = new BusyDestructor("deleter");
    deleter->FOther = new Tracked("victim");
    (new BusyDestructor("creator"))->FCreate = true;
    new Tracked("last");

    Tr::VuskSystem::shutdown();
    EXPECT_EQ(deleted, (std::vector<std::string>{"first", "victim", "deleter", "creator", "last", "late"}))
        << "victim deleted once by its deleter; an object registered during the walk is deleted by it";
}

TEST(TrException, MessageTexts)
{
    EXPECT_STREQ(Tr::Exception(static_cast<const char*>(nullptr)).what(), "UNKNOWN");
    const std::exception& base = Tr::Exception(std::string("port gone"));
    EXPECT_STREQ(base.what(), "port gone") << "read through the standard base";
}
