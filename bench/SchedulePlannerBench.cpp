#include "base/TimeZone.h"
#include "job/SchedulePlanner.h"

#include <benchmark/benchmark.h>

using namespace marrowbell;

namespace {

Job everyMinuteJob(Instant createdAt, const char* zone) {
    return Job{
        .id = Uuid::random(),
        .name = "Every minute",
        .prompt = "Check the build",
        .workingDirectory = FileUrl::fromPath("/home/me/project", true),
        .harnessID = "claude",
        .endpointID = std::nullopt,
        .model = std::nullopt,
        .skills = {},
        .permission = PermissionLevel::readOnly,
        .schedule = CronExpression("* * * * *"),
        .timeZoneIdentifier = zone,
        .isPaused = false,
        .limitOverrides = {},
        .offlinePolicy = OfflinePolicy::skipAndNotify,
        .createdAt = createdAt,
        .resumedAt = std::nullopt,
    };
}

} // namespace

// An every-minute job after a one-week lapse: the full 10,080-step search for the
// latest missed slot.
static void DecideAfterWeekLapse(benchmark::State& state, const char* zone) {
    Instant lastRun = *TimeZone::utc().instant(LocalDateTime{2026, 3, 2, 8, 0, 0});
    Job job = everyMinuteJob(lastRun - 86400, zone);
    SchedulePlanner planner{900};
    Instant now = lastRun + 8 * 86400.0;
    for (auto _ : state)
        benchmark::DoNotOptimize(planner.decide(job, lastRun, now));
}
BENCHMARK_CAPTURE(DecideAfterWeekLapse, utc, "UTC")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecideAfterWeekLapse, newYork, "America/New_York")->Unit(benchmark::kMillisecond);

// One scheduler tick's wake-up computation over fifty waiting jobs.
static void NextWakeUpFiftyJobs(benchmark::State& state) {
    Instant now = *TimeZone::utc().instant(LocalDateTime{2026, 3, 10, 12, 0, 0});
    std::vector<Job> jobs;
    std::unordered_map<Uuid, Instant> lastRuns;
    for (int i = 0; i < 50; ++i) {
        Job job = everyMinuteJob(now - 86400, "Europe/London");
        job.schedule = CronExpression(std::to_string(i % 60) + " */2 * * 1-5");
        lastRuns[job.id] = now - 60;
        jobs.push_back(std::move(job));
    }
    SchedulePlanner planner{900};
    for (auto _ : state)
        benchmark::DoNotOptimize(planner.nextWakeUp(jobs, lastRuns, now));
}
BENCHMARK(NextWakeUpFiftyJobs)->Unit(benchmark::kMicrosecond);
