// The application model with 1,000 jobs and 2,000 records: start-up to the first
// refresh, a store change to the model's signal, and wake-ups while idle.
#include "model/AppModel.h"

#include "base/Instant.h"
#include "job/JobStore.h"
#include "run/RunHistory.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace marrowbell;
using namespace marrowbell::app;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int jobCount = 1000;
constexpr int recordCount = 2000;

// A support folder of its own, filled once for every benchmark of this program.
struct Home {
    std::filesystem::path root;

    Home() {
        char pattern[] = "/tmp/marrowbell-bench-XXXXXX";
        root = ::mkdtemp(pattern);
        std::filesystem::create_directories(root / "run");
        std::filesystem::permissions(root / "run", std::filesystem::perms::owner_all);
        ::setenv("HOME", (root / "home").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);
        ::setenv("SHELL", "/bin/false", 1);

        // Schedules of every kind people use, none due while the benchmarks run.
        const char* schedules[] = {"0 9 * * 1-5", "30 */2 * * *", "15 3 * * *", "0 0 1 * *"};
        JobStore store(JobStore::defaultDirectory());
        RunHistory history(RunHistory::defaultFileURL());
        const Instant now = Instant::now();
        for (int i = 0; i < jobCount; ++i) {
            Job job{Uuid::random(),
                    "Job " + std::to_string(i),
                    "Review the open pull requests",
                    FileUrl::fromPath(root / "work", true),
                    "claude",
                    std::nullopt,
                    std::nullopt,
                    {},
                    PermissionLevel::readOnly,
                    CronExpression(schedules[i % 4]),
                    "UTC",
                    i % 10 == 0,
                    {},
                    OfflinePolicy::skipAndNotify,
                    now,
                    std::nullopt};
            store.save(job);
            for (int r = 0; r < recordCount / jobCount; ++r) {
                RunRecord record;
                record.jobID = job.id;
                record.startedAt = now - 3600 * (r + 1);
                record.duration = 42;
                record.resultText = "Reviewed three pull requests; nothing to merge.";
                history.record(record);
            }
        }
        history.flush();
    }
    ~Home() { std::filesystem::remove_all(root); }
};

Home& home() {
    static Home instance;
    return instance;
}

void runEventsUntil(const bool& done) {
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void BM_StartUpToFirstRefresh(benchmark::State& state) {
    home();
    for (auto _ : state) {
        const auto start = Clock::now();
        auto model = std::make_unique<AppModel>();
        const auto end = Clock::now();
        if (model->startupError() || model->jobs().size() != jobCount)
            state.SkipWithError("the model did not start");
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        model.reset();
    }
}
BENCHMARK(BM_StartUpToFirstRefresh)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// This process's store changes a job: its observers hear at once; the model's signal
// follows on the main thread.
void BM_StoreChangeToSignal(benchmark::State& state) {
    home();
    AppModel model;
    bool changed = false;
    QObject::connect(&model, &AppModel::jobsChanged, [&] { changed = true; });
    Job job = model.jobs().front();
    int n = 0;
    for (auto _ : state) {
        job.name = "Renamed " + std::to_string(++n);
        changed = false;
        model.store()->save(job);
        const auto start = Clock::now();
        runEventsUntil(changed);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}
BENCHMARK(BM_StoreChangeToSignal)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

// Another process (a terminal) writes a job file: the folder's watcher, the store's
// re-read, the model's signal. Timed from the start of the write.
void BM_FileChangeToSignal(benchmark::State& state) {
    home();
    AppModel model;
    bool changed = false;
    QObject::connect(&model, &AppModel::jobsChanged, [&] { changed = true; });
    Job job = model.jobs().front();
    const std::filesystem::path file = model.store()->fileFor(job.id);
    const std::filesystem::path scratch = file.parent_path().parent_path() / "scratch.json";
    int n = 0;
    for (auto _ : state) {
        job.name = "Edited elsewhere " + std::to_string(++n);
        const std::string bytes = job.toJson().dump(2);
        changed = false;
        const auto start = Clock::now();
        {
            std::ofstream out(scratch, std::ios::trunc);
            out << bytes;
        }
        std::filesystem::rename(scratch, file);
        runEventsUntil(changed);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}
BENCHMARK(BM_FileChangeToSignal)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

// Context switches of every thread of this process so far.
long contextSwitches() {
    long total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::stol(line.substr(line.find(':') + 1));
    }
    return total;
}

// An idle model between slots: how often the main thread wakes, and how often any of
// the process's threads is switched in.
void BM_IdleWakeUps(benchmark::State& state) {
    home();
    AppModel model;
    // Let start-up's own work (the first tick, the shell lookup) finish.
    {
        QEventLoop loop;
        QTimer::singleShot(std::chrono::seconds(2), &loop, &QEventLoop::quit);
        loop.exec();
    }
    int wakes = 0;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                     [&] { ++wakes; });
    const double seconds = 20;
    long switches = 0;
    for (auto _ : state) {
        const long before = contextSwitches();
        // The loop sleeps in the event dispatcher until something happens; the timer
        // that ends the period wakes it once.
        QEventLoop loop;
        QTimer::singleShot(std::chrono::milliseconds(int(seconds * 1000)), &loop,
                           &QEventLoop::quit);
        wakes = -1;
        loop.exec();
        switches = contextSwitches() - before;
    }
    state.counters["mainThreadWakesPerMinute"] = wakes * 60 / seconds;
    state.counters["threadSwitchesPerMinute"] = switches * 60 / seconds;
}
BENCHMARK(BM_IdleWakeUps)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
