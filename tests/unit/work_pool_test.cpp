#include "lib/threads/work_pool.h"

#include <atomic>
#include <vector>

#include <gtest/gtest.h>

// wait_for(t) must mean every job up to t is done, whatever order the
// workers finish in; with one thread the jobs run at once, in order.
TEST(WorkPool, WaitForCoversEveryEarlierJob) {
    for (unsigned threads : {1u, 4u}) {
        WorkPool pool(threads);
        EXPECT_EQ(pool.workers(), threads == 1 ? 0u : threads);
        std::vector<std::atomic<int>> done(200);
        for (int i = 0; i < 200; ++i) {
            const std::uint64_t ticket = pool.run([&done, i] { done[i] = 1; });
            EXPECT_EQ(ticket, static_cast<std::uint64_t>(i));
            if (i % 50 == 49) {
                pool.wait_for(ticket);
                for (int j = 0; j <= i; ++j) {
                    ASSERT_EQ(done[j], 1) << "job " << j << " with " << threads << " threads";
                }
            }
        }
        pool.wait_all();
    }
}

TEST(WorkPool, ThreadsAskedOrFromProcessors) {
    EXPECT_EQ(work_threads(3, 2), 3u);
    EXPECT_EQ(work_threads(64, 2), 64u);
    EXPECT_EQ(work_threads(0, 1), 1u);
    EXPECT_EQ(work_threads(0, 2), 2u);
    EXPECT_EQ(work_threads(0, 32), 8u);
    EXPECT_EQ(work_threads(65, 4), 4u);
}
