#include "base/TaskPool.h"

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace zelto;

// Every job runs once, never more than MaxThreads at a time, and the error of the lowest index reaches the
// caller after all jobs ended.
TEST(TaskPool, RunsEveryJobOnceWithinTheThreadCap) {
    TTaskPool pool(4);
    for (const int count : {0, 1, 3, 50}) {
        std::vector<std::atomic<int>> runs(static_cast<std::size_t>(count));
        std::atomic<int> running{0}, most{0};
        const auto job = [&](int i) {
            const int now = ++running;
            int seen = most;
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++runs[static_cast<std::size_t>(i)];
            --running;
            if (i % 7 == 5) throw std::runtime_error(std::to_string(i));
        };
        try {
            pool.RunAll(count, job);
            EXPECT_LT(count, 6) << "no error raised";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "5");
        }
        for (const auto& r : runs) EXPECT_EQ(r, 1) << count;
        EXPECT_LE(most, 4);
        EXPECT_EQ(running, 0);
    }
}
