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

// The registry holds the AutoDelete part, which here is not the first base.
class OtherBase
{
public:
    virtual ~OtherBase() = default;
    int FPadding = 42;
};

class SecondBase : public OtherBase, public Tr::AutoDelete
{
public:
    ~SecondBase() override { deleted.push_back("second-base " + std::to_string(FPadding)); }
};

class DeletesOther : public Tracked
{
public:
    DeletesOther(std::string name, Tracked* other) : Tracked(std::move(name)), FOther(other) {}
    ~DeletesOther() override { delete FOther; }
    Tracked* FOther;
};

class CreatesLate : public Tracked
{
public:
    using Tracked::Tracked;
    ~CreatesLate() override { new Tracked("late"); }
};

class CallsShutdown : public Tracked
{
public:
    using Tracked::Tracked;
    ~CallsShutdown() override { Tr::VuskSystem::shutdown(); }
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
    new SecondBase();
    new Tracked("d");
    Tr::VuskSystem::AddAutoDelete(a);
    EXPECT_EQ(entries(), 4) << "registering twice leaves one entry";

    delete b;
    EXPECT_EQ(entries(), 4) << "a destroyed object leaves its entry";
    EXPECT_EQ((*Tr::VuskSystem::GetAutoDeletes())[1], nullptr);
    EXPECT_TRUE(Tr::VuskSystem::hasAutoDeletes());

    Tr::VuskSystem::shutdown();
    EXPECT_EQ(deleted, (std::vector<std::string>{"b", "a", "second-base 42", "d"}));
    EXPECT_FALSE(Tr::VuskSystem::hasAutoDeletes());
    EXPECT_EQ(Tr::VuskSystem::GetAutoDeletes(), nullptr);
    Tr::VuskSystem::shutdown();
    EXPECT_EQ(deleted.size(), 4u) << "a second shutdown does nothing";
}

TEST_F(Registry, NullEntryKeepsRegistryAliveUntilShutdown)
{
    EXPECT_FALSE(Tr::VuskSystem::hasAutoDeletes());
    delete new Tracked("only");
    EXPECT_TRUE(Tr::VuskSystem::hasAutoDeletes()) << "null entries count";
    Tr::VuskSystem::shutdown();
    EXPECT_EQ(deleted, std::vector<std::string>{"only"});
    EXPECT_FALSE(Tr::VuskSystem::hasAutoDeletes());

    new Tracked("after");
    EXPECT_EQ(entries(), 1) << "an object made after shutdown starts a new registry";
}

TEST_F(Registry, DestructorsThatDeleteRegisterOrShutDownKeepTheWalkValid)
{
    new Tracked("first");
    // The victim is registered after its deleter, so the walk reaches the deleter first.
    auto* deleter = new DeletesOther("deleter", nullptr);
    auto* victim = new Tracked("victim");
    deleter->FOther = victim;
    new CreatesLate("creator");
    new CallsShutdown("reentrant");
    new Tracked("last");

    Tr::VuskSystem::shutdown();
    EXPECT_EQ(deleted, (std::vector<std::string>{"first", "victim", "deleter", "creator", "reentrant", "last", "late"}))
        << "victim deleted once by its deleter; an object registered during the walk is deleted by it";
    EXPECT_EQ(Tr::VuskSystem::GetAutoDeletes(), nullptr);
}

TEST(TrException, MessageTexts)
{
    EXPECT_STREQ(Tr::Exception().what(), "UNKNOWN");
    EXPECT_STREQ(Tr::Exception("").what(), "");
    EXPECT_STREQ(Tr::Exception(std::string("port gone")).what(), "port gone");
    EXPECT_STREQ(Tr::Exception(static_cast<const char*>(nullptr)).what(), "UNKNOWN");
    try
    {
        throw Tr::Exception("illegal ini format");
    }
    catch (const std::exception& e)
    {
        EXPECT_STREQ(e.what(), "illegal ini format") << "caught through the standard base";
    }
}
