#include "run/JobRunnerTestSupport.h"
#include "scheduler/SchedulerService.h"
#include "scheduler/SerialTimerQueue.h"
#include "settings/EndpointStore.h"
#include "settings/SettingsStore.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace marrowbell;
using namespace std::chrono_literals;

// Real harness processes under the scheduler: runs started from several threads, half of
// them hanging until cancelled, while others reschedule. Each run ends in exactly one
// record, and every cancelled one says so.
TEST(JobRunnerConcurrency, RealRunsCancelledAndFinishedWhileRescheduling) {
    test::RunnerFixture f("prompt=$(cat)\n"
                          "case \"$prompt\" in hang) exec sleep 60 ;; esac\n"
                          "echo '{\"type\":\"result\",\"is_error\":false,\"result\":\"ok\"}'\n");
    auto store = std::make_shared<JobStore>(f.folder / "Jobs");
    auto endpoints = std::make_shared<EndpointStore>(f.folder / "endpoints.json");
    auto settings = std::make_shared<SettingsStore>(f.folder / "settings.json");
    auto service = SchedulerService::create(store, f.history, endpoints, settings, f.runner);
    service->start();

    std::atomic<bool> done = false;
    std::thread rescheduler([&] {
        while (!done) {
            service->reschedule();
            std::this_thread::sleep_for(2ms);
        }
    });
    constexpr int count = 8;
    std::vector<Job> jobs;
    std::vector<std::future<RunRecord>> futures;
    for (int i = 0; i < count; ++i) {
        Job job = f.job();
        job.name = "job " + std::to_string(i);
        job.prompt = i % 2 ? "hang" : "finish";
        jobs.push_back(job);
    }
    std::vector<std::thread> starters;
    std::mutex futuresMutex;
    futures.resize(count);
    for (int i = 0; i < count; ++i)
        starters.emplace_back([&, i] {
            auto future = service->runNow(jobs[i]);
            std::lock_guard lock(futuresMutex);
            futures[i] = std::move(future);
        });
    for (auto& thread : starters)
        thread.join();
    // Cancel the hanging ones once they are in flight; the others may finish meanwhile.
    std::vector<std::thread> cancellers;
    for (int i = 1; i < count; i += 2)
        cancellers.emplace_back([&, i] {
            std::this_thread::sleep_for(200ms);
            service->cancel(jobs[i].id);
        });
    for (auto& thread : cancellers)
        thread.join();
    for (int i = 0; i < count; ++i) {
        RunRecord record = futures[i].get();
        EXPECT_EQ(record.jobID, jobs[i].id);
        if (i % 2) {
            EXPECT_TRUE(record.wasCancelled) << record.summary();
        } else {
            EXPECT_TRUE(record.succeeded()) << record.summary();
        }
    }
    done = true;
    rescheduler.join();
    service->waitUntilIdle();
    EXPECT_EQ(f.history->allRuns().size(), static_cast<std::size_t>(count));
}
