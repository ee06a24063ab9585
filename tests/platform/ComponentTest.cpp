#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "platform/Component.h"
#include "platform/Exception.h"

namespace velnor::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

// Records its destruction in a shared journal.
class TProbe : public TComponent {
public:
    TProbe(TComponent* owner, std::string tag, std::vector<std::string>& journal)
        : TComponent(owner), journal_(journal) {
        SetName(std::move(tag));
    }
    ~TProbe() override { journal_.push_back(Name()); }

private:
    std::vector<std::string>& journal_;
};

struct ComponentTest : ::testing::Test {
    std::vector<std::string> journal;
};

TEST_F(ComponentTest, OwnerDestroysWhatItOwnsNewestFirst) {
    {
        TComponent owner;
        Make<TProbe>(owner, "a", journal);
        auto& b = Make<TProbe>(owner, "b", journal);
        Make<TProbe>(b, "b1", journal);
        Make<TProbe>(owner, "c", journal);
        EXPECT_EQ(owner.ComponentCount(), 3);
    }
    EXPECT_THAT(journal, ElementsAre("c", "b", "b1", "a"));
}

TEST_F(ComponentTest, ComponentDestroyedFirstLeavesItsOwner) {
    TComponent owner;
    auto* first = &Make<TProbe>(owner, "first", journal);
    Make<TProbe>(owner, "second", journal);
    delete first;
    ASSERT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(owner.Component(0)->Name(), "second");
    owner.DestroyComponents();
    EXPECT_THAT(journal, ElementsAre("first", "second"));
    EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST_F(ComponentTest, ChildDestroyingASiblingDuringTeardownIsSafe) {
    // A child that frees another child of the same owner must not leave a dangling entry.
    class TKiller : public TComponent {
    public:
        TKiller(TComponent* owner, TComponent* victim) : TComponent(owner), victim_(victim) {}
        ~TKiller() override { delete victim_; }

    private:
        TComponent* victim_;
    };
    {
        TComponent owner;
        auto& victim = Make<TProbe>(owner, "victim", journal);
        Make<TKiller>(owner, &victim);
    }
    EXPECT_THAT(journal, ElementsAre("victim"));
}

TEST_F(ComponentTest, InsertComponentMovesOwnership) {
    TComponent first;
    auto second = std::make_unique<TComponent>();
    auto& child = Make<TProbe>(first, "child", journal);
    second->InsertComponent(&child);
    EXPECT_EQ(first.ComponentCount(), 0);
    EXPECT_EQ(child.Owner(), second.get());
    second.reset();
    EXPECT_THAT(journal, ElementsAre("child"));
}

TEST_F(ComponentTest, RemovedComponentSurvivesItsFormerOwner) {
    auto child = std::make_unique<TProbe>(nullptr, "free", journal);
    {
        TComponent owner;
        owner.InsertComponent(child.get());
        owner.RemoveComponent(child.get());
    }
    EXPECT_TRUE(journal.empty());
    EXPECT_EQ(child->Owner(), nullptr);
}

TEST_F(ComponentTest, OwnershipCyclesAreRefused) {
    TComponent root;
    auto& child = Make<TComponent>(root);
    EXPECT_THAT([&] { child.InsertComponent(&root); },
                ThrowsMessage<Exception>(HasSubstr("cannot own")));
    EXPECT_THROW(root.InsertComponent(&root), Exception);
    EXPECT_EQ(root.Owner(), nullptr);
}

TEST_F(ComponentTest, FindComponentComparesNamesWithoutCase) {
    TComponent owner;
    auto& query = Make<TProbe>(owner, "Query1", journal);
    EXPECT_EQ(owner.FindComponent("QUERY1"), &query);
    EXPECT_EQ(owner.FindComponent("Query2"), nullptr);
    EXPECT_EQ(owner.FindComponent(""), nullptr);
}

TEST_F(ComponentTest, IndexOutsideTheListRaises) {
    TComponent owner;
    Make<TComponent>(owner);
    EXPECT_THAT([&] { (void)owner.Component(1); },
                ThrowsMessage<Exception>(HasSubstr("out of bounds")));
    EXPECT_THROW((void)owner.Component(-1), Exception);
}

TEST_F(ComponentTest, ConstructorThatThrowsLeavesNoEntryBehind) {
    class TFailing : public TComponent {
    public:
        explicit TFailing(TComponent* owner) : TComponent(owner) { throw Exception("no"); }
    };
    TComponent owner;
    EXPECT_THROW(Make<TFailing>(owner), Exception);
    EXPECT_EQ(owner.ComponentCount(), 0);
}

}  // namespace
}  // namespace velnor::platform
