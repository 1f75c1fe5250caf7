#include "base/Files.h"
#include "run/RunHistory.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

// A realistic record: a paragraph of result text and token counts.
RunRecord sampleRun(const Uuid& job, int i) {
    RunRecord r;
    r.jobID = job;
    r.startedAt = Instant{800000000.0 + i * 60.0};
    r.duration = 42.5 + i % 100;
    r.exitCode = i % 7 == 0 ? 1 : 0;
    r.inputTokens = 12000 + i;
    r.outputTokens = 800 + i;
    r.resultText = "Reviewed the open pull requests and summarised the three that need attention: "
                   "the flaky integration test, the dependency bump and the docs fix.";
    if (r.exitCode != 0)
        r.failureMessage = "The harness exited with status 1.";
    return r;
}

struct Folder {
    fs::path path;
    Folder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/marrowbell-bench.XXXXXX";
        path = ::mkdtemp(pattern.data());
    }
    ~Folder() { fs::remove_all(path); }
};

void fill(RunHistory& history, int count) {
    Uuid jobs[8];
    for (auto& job : jobs)
        job = Uuid::random();
    for (int i = 0; i < count; ++i)
        history.record(sampleRun(jobs[i % 8], i));
    history.flush();
}

} // namespace

// One run recorded and on disk, with the history at its cap of 2000 records.
static void RecordAndPersistAtCap(benchmark::State& state) {
    Folder folder;
    RunHistory history(folder.path / "runs.json");
    fill(history, RunHistory::capacity);
    Uuid job = Uuid::random();
    int i = 0;
    for (auto _ : state) {
        history.record(sampleRun(job, ++i));
        history.flush();
    }
}
// The write happens on the history's own thread: CPU time is measured for the whole
// process so that the encoding counts.
BENCHMARK(RecordAndPersistAtCap)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Loading a runs.json of 2000 records, as at start-up.
static void LoadFullHistory(benchmark::State& state) {
    Folder folder;
    {
        RunHistory history(folder.path / "runs.json");
        fill(history, RunHistory::capacity);
    }
    for (auto _ : state) {
        RunHistory history(folder.path / "runs.json");
        benchmark::DoNotOptimize(history.lastRun(Uuid()));
    }
}
BENCHMARK(LoadFullHistory)->Unit(benchmark::kMillisecond);

// The scheduler asks for every job's last run on each tick.
static void LastRunAtCap(benchmark::State& state) {
    RunHistory history;
    fill(history, RunHistory::capacity);
    Uuid job = history.allRuns().front().jobID;
    for (auto _ : state)
        benchmark::DoNotOptimize(history.lastRun(job));
}
BENCHMARK(LastRunAtCap)->Unit(benchmark::kMicrosecond);
