#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/CriticalSection.h"

namespace velnor::platform {
namespace {

TEST(CriticalSectionTest, ReentersAndCountsEntries) {
    TOracleCriticalSection section;
    section.Enter();
    section.Enter();
    EXPECT_EQ(section.EntryCount(), 2);
    section.Leave();
    EXPECT_TRUE(section.HeldByCurrentThread());
    section.Leave();
    EXPECT_EQ(section.EntryCount(), 0);
    EXPECT_FALSE(section.HeldByCurrentThread());
}

TEST(CriticalSectionTest, LeaveWithoutEnterDoesNothing) {
    TOracleCriticalSection section;
    section.Leave();
    section.Leave();
    EXPECT_EQ(section.EntryCount(), 0);
    section.Enter();  // would deadlock or underflow if the stray Leaves had counted
    EXPECT_EQ(section.EntryCount(), 1);
    section.Leave();
}

TEST(CriticalSectionTest, LeaveFromAnotherThreadDoesNotReleaseTheHolder) {
    TOracleCriticalSection section;
    section.Enter();
    std::thread([&] { section.Leave(); }).join();
    EXPECT_EQ(section.EntryCount(), 1);
    bool entered = true;
    std::thread([&] { entered = section.TryEnter(); }).join();
    EXPECT_FALSE(entered);
    section.Leave();
    std::thread([&] {
        entered = section.TryEnter();
        if (entered) section.Leave();
    }).join();
    EXPECT_TRUE(entered);
}

TEST(CriticalSectionTest, SerialisesThreads) {
    TOracleCriticalSection section;
    int counter = 0;  // deliberately not atomic: the lock must protect it
    std::atomic<bool> overlap{false};
    std::atomic<int> inside{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                TCriticalSectionGuard outer(section);
                TCriticalSectionGuard inner(section);
                if (inside.fetch_add(1) != 0) overlap = true;
                ++counter;
                inside.fetch_sub(1);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter, 80000);
    EXPECT_FALSE(overlap);
    EXPECT_EQ(section.EntryCount(), 0);
}

}  // namespace
}  // namespace velnor::platform
