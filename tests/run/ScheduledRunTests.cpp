#include "run/JobRunnerTestSupport.h"
#include "scheduler/SchedulerTestSupport.h"
#include "support/LocalHttpServer.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace marrowbell;

namespace {

Instant at(int hour, int minute, double second = 0) {
    return *TimeZone::utc().instant(LocalDateTime{2026, 3, 5, hour, minute, second});
}

} // namespace

// Refusals and failures of scheduled runs through the real runner: each job gets exactly
// one record with its message, and the scheduler carries on with the others.
TEST(ScheduledRun, EveryFailureIsOneRecordAndTheSchedulerKeepsGoing) {
    test::RunnerFixture f(test::promptedHarness);
    std::atomic<double> clock = at(12, 0, 5).sinceReference;
    auto timers = std::make_shared<test::ManualTimerQueue>();
    f.schedule(timers, [&] { return Instant{clock.load()}; });
    std::vector<Job> jobs;
    for (const char* name : {"unknown", "hanging", "unreachable", "healthy"}) {
        Job& job = jobs.emplace_back(f.job());
        job.name = name;
        job.prompt = name;
        job.schedule = CronExpression("0 * * * *");
        job.createdAt = at(0, 0) + double(jobs.size()); // store order
        job.workingDirectory = FileUrl::fromPath(f.folder / name, true);
        std::filesystem::create_directories(f.folder / name);
    }
    jobs[0].harnessID = "retired-tool";
    jobs[1].limitOverrides.timeoutSeconds = 1;
    Endpoint proxy{Uuid::random(), "Proxy",
                   *Endpoint::validated("http://127.0.0.1:" +
                                        std::to_string(test::LocalHttpServer::closedPort())),
                   EndpointKind::anthropicCompatible};
    f.endpoints->save(proxy);
    jobs[2].endpointID = proxy.id;
    jobs[2].offlinePolicy = OfflinePolicy::failAndNotify;
    for (const Job& job : jobs)
        f.store->save(job);
    f.service->start();
    ASSERT_TRUE(timers->fire());
    f.service->waitUntilIdle();

    auto only = [&](const Job& job) {
        auto runs = f.history->runs(job.id);
        EXPECT_EQ(runs.size(), 1u) << job.name;
        EXPECT_TRUE(runs.empty() || runs[0].startedAt == at(12, 0)) << job.name;
        return runs.empty() ? RunRecord{} : runs[0];
    };
    EXPECT_EQ(only(jobs[0]).failureMessage,
              "No harness called \"retired-tool\" is described in the manifest.");
    EXPECT_TRUE(only(jobs[1]).timedOut);
    EXPECT_EQ(only(jobs[2]).failureMessage->rfind("Proxy could not be reached — ", 0), 0u);
    EXPECT_TRUE(only(jobs[3]).succeeded());
    EXPECT_EQ(timers->armed(), 3600 - 5) << "re-armed for the next slot";
    clock = at(13, 0, 1).sinceReference;
    ASSERT_TRUE(timers->fire());
    f.service->waitUntilIdle();
    EXPECT_EQ(f.history->runs(jobs[3].id).size(), 2u) << "the scheduler kept going";
}
