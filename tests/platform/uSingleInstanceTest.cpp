#include "platform/uSingleInstance.h"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

using namespace zelto;

namespace {

// Counts wake calls and lets the test wait for them with a deadline.
struct TWakeCounter {
    std::mutex Mutex;
    std::condition_variable Changed;
    int Count = 0;
    std::function<void()> Callback() {
        return [this] {
            std::lock_guard<std::mutex> lock(Mutex);
            ++Count;
            Changed.notify_all();
        };
    }
    bool WaitFor(int n) {
        std::unique_lock<std::mutex> lock(Mutex);
        return Changed.wait_for(lock, std::chrono::seconds(5), [&] { return Count >= n; });
    }
};

std::string UniqueName(const std::string& tag) { return "TestInstance" + tag + std::to_string(::getpid()); }

}  // namespace

TEST(SingleInstance, SecondCopyIsRefusedAndWakesTheFirst) {
    TWakeCounter wakes;
    TSingleInstance first(UniqueName("A"));
    ASSERT_TRUE(first.Acquire(wakes.Callback()));
    for (int i = 1; i <= 2; ++i) {
        TSingleInstance second(UniqueName("A"));
        EXPECT_FALSE(second.Acquire([] { ADD_FAILURE() << "the refused copy was woken"; }));
        EXPECT_TRUE(wakes.WaitFor(i));
    }
    EXPECT_EQ(wakes.Count, 2);
}

TEST(SingleInstance, OtherNamesRunSideBySideAndANameIsFreedAtTheEnd) {
    auto first = std::make_unique<TSingleInstance>(UniqueName("B"));
    ASSERT_TRUE(first->Acquire(nullptr));
    TSingleInstance other(UniqueName("B") + "x");  // another version or file name
    EXPECT_TRUE(other.Acquire(nullptr));
    first.reset();
    TSingleInstance again(UniqueName("B"));
    EXPECT_TRUE(again.Acquire(nullptr));
}
