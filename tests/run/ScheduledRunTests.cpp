#include "run/JobRunnerTestSupport.h"
#include "scheduler/SchedulerTestSupport.h"
#include "support/LocalHttpServer.h"

#include <gtest/gtest.h>

using namespace marrowbell;

namespace {

Instant at(int hour, int minute, double second = 0) {
    return *TimeZone::utc().instant(LocalDateTime{2026, 3, 5, hour, minute, second});
}

} // namespace

// Refusals and failures of scheduled runs through the real runner: each job gets exactly
// one record with its message, and the scheduler carries on with the others.
TEST(ScheduledRun, EveryFailureIsOneRecordAndTheSchedulerKeepsGoing) {
    test::RunnerFixture f("prompt=$(cat)\n"
                          "case \"$prompt\" in hang) exec sleep 60 ;; esac\n"
                          "echo '{\"type\":\"result\",\"is_error\":false,\"result\":\"ok\"}'\n");
    test::ManualClock clock(at(12, 0, 5));
    auto timers = std::make_shared<test::ManualTimerQueue>();
    auto store = std::make_shared<JobStore>(f.folder / "Jobs");
    auto endpoints = std::make_shared<EndpointStore>(f.folder / "endpoints.json");
    auto settings = std::make_shared<SettingsStore>(f.folder / "settings.json");
    auto service = SchedulerService::create(store, f.history, endpoints, settings, f.runner, timers,
                                            clock.function());

    auto scheduled = [&](const std::string& name, int index) {
        Job job = f.job();
        job.name = name;
        job.schedule = CronExpression("0 * * * *");
        job.createdAt = at(0, 0) + index; // store order
        job.workingDirectory = FileUrl::fromPath(f.folder / name, true);
        std::filesystem::create_directories(f.folder / name);
        return job;
    };
    Job unknown = scheduled("unknown", 0);
    unknown.harnessID = "retired-tool";
    Job hanging = scheduled("hanging", 1);
    hanging.prompt = "hang";
    hanging.limitOverrides.timeoutSeconds = 1;
    Job unreachable = scheduled("unreachable", 2);
    Endpoint proxy{Uuid::random(), "Proxy",
                   *Endpoint::validated("http://127.0.0.1:" +
                                        std::to_string(test::LocalHttpServer::closedPort())),
                   EndpointKind::anthropicCompatible};
    endpoints->save(proxy);
    unreachable.endpointID = proxy.id;
    unreachable.offlinePolicy = OfflinePolicy::failAndNotify;
    Job healthy = scheduled("healthy", 3);
    for (const Job& job : {unknown, hanging, unreachable, healthy})
        store->save(job);

    service->start();
    ASSERT_TRUE(timers->fire());
    service->waitUntilIdle();

    auto only = [&](const Job& job) {
        auto runs = f.history->runs(job.id);
        EXPECT_EQ(runs.size(), 1u) << job.name;
        return runs.empty() ? RunRecord{} : runs[0];
    };
    EXPECT_EQ(only(unknown).failureMessage,
              "No harness called \"retired-tool\" is described in the manifest.");
    RunRecord timedOut = only(hanging);
    EXPECT_TRUE(timedOut.timedOut);
    EXPECT_EQ(timedOut.failureMessage->rfind("Stopped at its time limit after ", 0), 0u);
    EXPECT_EQ(only(unreachable).failureMessage->rfind("Proxy could not be reached — ", 0), 0u);
    EXPECT_TRUE(only(healthy).succeeded());
    for (const Job& job : {unknown, hanging, unreachable, healthy})
        EXPECT_EQ(only(job).startedAt, at(12, 0));

    EXPECT_EQ(timers->armed(), 3600 - 5) << "re-armed for the next slot";
    clock.set(at(13, 0, 1));
    ASSERT_TRUE(timers->fire());
    service->waitUntilIdle();
    EXPECT_EQ(f.history->runs(healthy.id).size(), 2u) << "the scheduler kept going";
}
