#include "base/Json.h"
#include "job/JobStore.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <unistd.h>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

// A folder of 1,000 realistic job files, made once.
const fs::path& thousandJobs() {
    static const fs::path folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        fs::path path = fs::path(tmp && *tmp ? tmp : "/tmp") /
                        ("marrowbell-bench-jobs-" + std::to_string(::getpid()));
        fs::remove_all(path);
        JobStore store(path);
        const char* schedules[] = {"*/15 * * * *", "0 9 * * 1-5", "30 2 * * *", "0 8 1 * *"};
        for (int i = 0; i < 1000; ++i) {
            store.save(Job{.id = Uuid::random(),
                           .name = "Job " + std::to_string(i),
                           .prompt = std::string(600, 'p'),
                           .workingDirectory = FileUrl::fromPath(
                               "/home/me/src/project " + std::to_string(i % 37), true),
                           .harnessID = "claude",
                           .endpointID = i % 3 ? std::optional(Uuid::random()) : std::nullopt,
                           .model = "sonnet",
                           .skills = {"review", "tests"},
                           .permission = PermissionLevel::scopedWrite,
                           .schedule = CronExpression(schedules[i % 4]),
                           .timeZoneIdentifier = "Europe/London",
                           .isPaused = i % 5 == 0,
                           .limitOverrides = {i % 2 ? std::optional(900.0) : std::nullopt},
                           .offlinePolicy = OfflinePolicy::skipAndNotify,
                           .createdAt = Instant{800000000.0 + i},
                           .resumedAt = Instant{810000000.5}});
        }
        std::atexit([] { fs::remove_all(thousandJobs()); });
        return path;
    }();
    return folder;
}

void loadThousandJobs(benchmark::State& state) {
    const fs::path& folder = thousandJobs();
    for (auto _ : state) {
        JobStore store(folder);
        benchmark::DoNotOptimize(store.jobs());
    }
}
BENCHMARK(loadThousandJobs)->Unit(benchmark::kMillisecond);

} // namespace
