#include "run/JobRunnerTestSupport.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace marrowbell;
using namespace std::chrono_literals;

// Real harness processes under the scheduler: runs started from several threads, half of
// them hanging until cancelled, while others reschedule. Each run ends in exactly one
// record, and every cancelled one says so.
TEST(JobRunnerConcurrency, RealRunsCancelledAndFinishedWhileRescheduling) {
    test::RunnerFixture f(test::promptedHarness);
    f.schedule();
    f.service->start();
    std::atomic<bool> done = false;
    std::thread rescheduler([&] {
        while (!done) {
            f.service->reschedule();
            std::this_thread::sleep_for(2ms);
        }
    });
    constexpr int count = 8;
    std::vector<Job> jobs(count, f.job());
    std::vector<std::future<RunRecord>> futures(count);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        jobs[i].id = Uuid::random();
        jobs[i].prompt = i % 2 ? "hang" : "finish";
    }
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] { futures[i] = f.service->runNow(jobs[i]); });
    for (auto& thread : threads)
        thread.join();
    threads.clear();
    // Cancel the hanging ones once they are in flight; the others may finish meanwhile.
    for (int i = 1; i < count; i += 2)
        threads.emplace_back([&, i] {
            std::this_thread::sleep_for(200ms);
            f.service->cancel(jobs[i].id);
        });
    for (auto& thread : threads)
        thread.join();
    for (int i = 0; i < count; ++i) {
        RunRecord record = futures[i].get();
        EXPECT_EQ(record.jobID, jobs[i].id);
        EXPECT_EQ(i % 2 ? record.wasCancelled : record.succeeded(), true) << record.summary();
    }
    done = true;
    rescheduler.join();
    f.service->waitUntilIdle();
    EXPECT_EQ(f.history->allRuns().size(), std::size_t(count));
}
