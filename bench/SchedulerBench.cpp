// The scheduler's speed targets: one tick over 1,000 jobs; the delay from a slot's
// instant to its harness process starting; and the idle daemon's wake-ups and memory.
#include "base/FileWatcher.h"
#include "base/Files.h"
#include "base/TimeZone.h"
#include "harness/HarnessRegistry.h"
#include "job/JobStore.h"
#include "run/JobRunner.h"
#include "run/RunHistory.h"
#include "scheduler/SchedulerService.h"
#include "settings/EndpointStore.h"
#include "settings/SettingsStore.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "marrowbell-bench.XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

// Fires only when the benchmark says so, on its own thread.
class ManualTimers : public TimerQueue {
public:
    struct Armed : OneShotTimer {
        std::function<void()> handler;
        ManualTimers* owner = nullptr;
        void start() override { owner->live = this; }
        void cancel() override {
            if (owner->live == this)
                owner->live = nullptr;
        }
    };
    std::unique_ptr<OneShotTimer> makeTimer(Seconds, std::function<void()> handler) override {
        auto timer = std::make_unique<Armed>();
        timer->handler = std::move(handler);
        timer->owner = this;
        return timer;
    }
    void fire() {
        if (Armed* timer = live) {
            live = nullptr;
            timer->handler();
        }
    }
    Armed* live = nullptr;
};

RunRecord recordOf(const Uuid& jobID, Instant startedAt) {
    RunRecord record;
    record.jobID = jobID;
    record.startedAt = startedAt;
    return record;
}

struct NoRunner : JobRunning {
    RunRecord run(const Job& job, const std::optional<Endpoint>&, const RunLimits&, Instant now,
                  LineHandler, std::stop_token, ProcessHandler) const override {
        return recordOf(job.id, now);
    }
};

Job benchJob(int i, const std::string& cron, Instant createdAt, const fs::path& folder) {
    return Job{.id = Uuid::random(),
               .name = "Job " + std::to_string(i),
               .prompt = "Review",
               .workingDirectory = FileUrl::fromPath(folder / std::to_string(i), true),
               .harnessID = "claude",
               .endpointID = std::nullopt,
               .model = std::nullopt,
               .skills = {},
               .permission = PermissionLevel::readOnly,
               .schedule = CronExpression(cron),
               .timeZoneIdentifier = i % 2 ? "Europe/Berlin" : "America/New_York",
               .isPaused = i % 10 == 0,
               .limitOverrides = {},
               .offlinePolicy = OfflinePolicy::skipAndNotify,
               .createdAt = createdAt,
               .resumedAt = std::nullopt};
}

// The instant the 1,000-job benchmarks plan at: none of their jobs is due then.
Instant thousandJobsInstant() {
    return *TimeZone::utc().instant(LocalDateTime{2026, 3, 10, 12, 0, 30});
}

// 1,000 jobs of five schedules, created a month before `thousandJobsInstant`.
std::vector<Job> saveThousandJobs(JobStore& store, const fs::path& folder) {
    const char* schedules[] = {"0 9 * * 1-5", "*/15 * * * *", "30 2 1 * *", "0 */6 * * *",
                               "45 23 * * 0"};
    std::vector<Job> jobs;
    for (int i = 0; i < 1000; ++i) {
        jobs.push_back(benchJob(i, schedules[i % 5], thousandJobsInstant() - 86400 * 30, folder));
        store.save(jobs.back());
    }
    return jobs;
}

// A tick that plans 1,000 jobs (none due), with two history records each, and re-arms.
void BM_TickOverThousandJobs(benchmark::State& state) {
    ScratchFolder scratch;
    Instant now = thousandJobsInstant();
    auto store = std::make_shared<JobStore>(scratch.path / "Jobs");
    auto history = std::make_shared<RunHistory>();
    std::vector<Job> jobs = saveThousandJobs(*store, scratch.path);
    // Every job ran at its latest slot, so nothing is owed at `now`.
    for (const Job& job : jobs) {
        if (auto next = job.nextRunIfResumed(now - 86400 * 2))
            history->record(recordOf(job.id, *next));
        std::optional<Instant> last;
        for (auto slot = job.nextRunIfResumed(now - 86400 * 2); slot && *slot <= now;
             slot = job.nextRunIfResumed(*slot))
            last = slot;
        if (last)
            history->record(recordOf(job.id, *last));
    }
    auto endpoints = std::make_shared<EndpointStore>(scratch.path / "endpoints.json");
    auto settings = std::make_shared<SettingsStore>(scratch.path / "settings.json");
    auto timers = std::make_shared<ManualTimers>();
    auto service =
        SchedulerService::create(store, history, endpoints, settings, std::make_shared<NoRunner>(),
                                 timers, [now] { return now; });
    service->start();
    for (auto _ : state) {
        timers->fire();
        benchmark::DoNotOptimize(timers->live);
    }
    service->stop();
    history->flush();
}
BENCHMARK(BM_TickOverThousandJobs)->Unit(benchmark::kMillisecond);

// Counts the timers started, for a benchmark waiting on another thread's re-plan.
class CountingTimers : public TimerQueue {
public:
    struct Armed : OneShotTimer {
        CountingTimers* owner = nullptr;
        void start() override {
            std::lock_guard lock(owner->mutex);
            ++owner->started;
            owner->armed.notify_all();
        }
        void cancel() override {}
    };
    std::unique_ptr<OneShotTimer> makeTimer(Seconds, std::function<void()>) override {
        auto timer = std::make_unique<Armed>();
        timer->owner = this;
        return timer;
    }
    // Waits until more than `count` timers were started; false after 10 s.
    bool waitBeyond(int count) {
        std::unique_lock lock(mutex);
        return armed.wait_for(lock, std::chrono::seconds(10), [&] { return started > count; });
    }
    int startedSoFar() {
        std::lock_guard lock(mutex);
        return started;
    }

    std::mutex mutex;
    std::condition_variable armed;
    int started = 0;
};

// One job file among 1,000 replaced by another process: from the file's rename (its
// inotify event) to the scheduler's timer re-armed for the new plan, through the
// watcher, the store's reload of that one file and the planner over all jobs.
void BM_ReloadOneChangedJobAmongThousand(benchmark::State& state) {
    ScratchFolder scratch;
    Instant now = thousandJobsInstant();
    auto store = std::make_shared<JobStore>(scratch.path / "Jobs");
    std::vector<Job> jobs = saveThousandJobs(*store, scratch.path);
    // Each job ran a minute ago: planning looks ahead only, with no backlog to weigh.
    auto history = std::make_shared<RunHistory>();
    for (const Job& job : jobs)
        history->record(recordOf(job.id, now - 60));
    auto timers = std::make_shared<CountingTimers>();
    auto service = SchedulerService::create(
        store, history, std::make_shared<EndpointStore>(scratch.path / "endpoints.json"),
        std::make_shared<SettingsStore>(scratch.path / "settings.json"),
        std::make_shared<NoRunner>(), timers, [now] { return now; });
    FileWatcher watcher;
    store->follow(watcher);
    service->start();
    // The watcher's first look at the folder, done before measuring.
    Job marker = benchJob(1000, "0 0 1 1 *", now - 86400, scratch.path);
    int before = timers->startedSoFar();
    files::writeAtomically(store->fileFor(marker.id), json::pretty(marker.toJson()));
    if (!timers->waitBeyond(before)) {
        state.SkipWithError("the watcher never saw the folder");
        return;
    }

    std::vector<double> milliseconds;
    int round = 0;
    // The CPU time of the other threads (the watcher's reload and re-plan) apart from
    // this one's writing: the work a reload costs, whatever else the machine runs.
    auto cpuSeconds = [](clockid_t clock) {
        timespec time{};
        ::clock_gettime(clock, &time);
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
    };
    double processBefore = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    double threadBefore = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    for (auto _ : state) {
        Job& job = jobs[static_cast<std::size_t>(round * 37 % 1000)];
        job.name = "Job renamed " + std::to_string(++round);
        std::string bytes = json::pretty(job.toJson());
        before = timers->startedSoFar();
        files::writeAtomically(store->fileFor(job.id), bytes);
        auto start = std::chrono::steady_clock::now();
        if (!timers->waitBeyond(before)) {
            state.SkipWithError("the change never reached the scheduler");
            return;
        }
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        milliseconds.push_back(elapsed.count() * 1000);
    }
    double others = (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processBefore) -
                    (cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - threadBefore);
    std::sort(milliseconds.begin(), milliseconds.end());
    state.counters["median_ms"] = milliseconds[milliseconds.size() / 2];
    state.counters["reloadCpu_ms"] = others * 1000 / static_cast<double>(milliseconds.size());
}
BENCHMARK(BM_ReloadOneChangedJobAmongThousand)
    ->UseManualTime()
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond);

Json standIn() {
    return Json::parse(R"({
      "id": "standin", "displayName": "Stand-in", "executableNames": ["standin"],
      "subcommand": [], "headlessFlags": [], "structuredOutputFlags": [],
      "promptDelivery": "standardInput", "eventFormat": "claudeStreamJSON",
      "permissions": {"readOnly": ["--ro"]},
      "localEndpoint": {"style": "environment", "variable": "X"},
      "apiKeyVariables": {}
    })");
}

// From a slot's instant to the stand-in harness's first instruction (its own clock
// reading, so the shell's start-up is included). The scheduler's clock is shifted so
// that a minute boundary lies 1.2 s ahead, beyond the timer's one-second floor.
void BM_SlotToHarnessStart(benchmark::State& state) {
    ScratchFolder scratch;
    fs::path marker = scratch.path / "started";
    fs::create_directories(scratch.path / "bin");
    std::ofstream(scratch.path / "bin" / "standin")
        << "#!/bin/sh\ndate +%s.%N > '" << marker.string() << ".tmp'\nmv '" << marker.string()
        << ".tmp' '" << marker.string() << "'\ncat >/dev/null\n";
    fs::permissions(scratch.path / "bin" / "standin", fs::perms::owner_all);
    fs::create_directories(scratch.path / "work");
    HarnessRegistry registry({HarnessSpec::decode(standIn())}, {(scratch.path / "bin").string()},
                             {}, {}, {}, std::make_shared<ShellPath>());
    auto history = std::make_shared<RunHistory>();
    auto runner = std::make_shared<JobRunner>(
        registry, history, EndpointProbe(1), RunExecutor(), CommandBuilder{},
        SecretStore("bench", SecretStore::Backend::file, scratch.path / "secrets.json"));
    auto endpoints = std::make_shared<EndpointStore>(scratch.path / "endpoints.json");
    auto settings = std::make_shared<SettingsStore>(scratch.path / "settings.json");
    for (auto _ : state) {
        fs::remove(marker);
        auto store = std::make_shared<JobStore>(scratch.path / ("Jobs" + std::to_string(rand())));
        Instant real = Instant::now();
        Instant boundary{std::floor(real.sinceReference / 60) * 60 + 60};
        Seconds offset = (boundary - 1.2) - real;
        Job job = benchJob(1, "* * * * *", boundary - 30, scratch.path);
        job.harnessID = "standin";
        job.isPaused = false;
        job.workingDirectory = FileUrl::fromPath(scratch.path / "work", true);
        store->save(job);
        auto service =
            SchedulerService::create(store, history, endpoints, settings, runner, nullptr,
                                     [offset] { return Instant::now() + offset; });
        service->start();
        while (!fs::exists(marker))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        service->stop();
        service->waitUntilIdle();
        double started = std::stod(*files::read(marker));
        double slotReal = (boundary - offset).unixSeconds();
        state.SetIterationTime(started - slotReal);
    }
    history->flush();
}
BENCHMARK(BM_SlotToHarnessStart)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

struct ProcessSample {
    long contextSwitches = 0; // voluntary and involuntary, all threads
    long cpuTicks = 0;        // user + system
    long residentKiB = 0;
    long anonymousKiB = 0;      // resident pages of its own, not of shared libraries
    long proportionalKiB = 0;   // PSS: shared pages divided among their users
    long binaryKiB = 0;         // resident pages of the program file itself
    long librariesKiB = 0;      // resident pages of the shared libraries' files
    bool httpMapped = false;    // libcurl, loaded only when an endpoint is probed
    bool secretsMapped = false; // libsecret, loaded only when a key is needed
    bool textMapped = false;    // ICU, loaded only when text needs a locale's rules
};

ProcessSample sample(pid_t pid) {
    ProcessSample result;
    fs::path proc = "/proc/" + std::to_string(pid);
    for (const auto& task : fs::directory_iterator(proc / "task")) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line))
            if (line.starts_with("voluntary_ctxt_switches:") ||
                line.starts_with("nonvoluntary_ctxt_switches:"))
                result.contextSwitches += std::stol(line.substr(line.find(':') + 1));
    }
    std::ifstream stat(proc / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15)
            result.cpuTicks += std::stol(field);
    std::ifstream status(proc / "status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmRSS:"))
            result.residentKiB = std::stol(line.substr(6));
        else if (line.starts_with("RssAnon:"))
            result.anonymousKiB = std::stol(line.substr(8));
    std::ifstream rollup(proc / "smaps_rollup");
    while (std::getline(rollup, line))
        if (line.starts_with("Pss:"))
            result.proportionalKiB = std::stol(line.substr(4));
    // smaps: a header line per mapping ("address perms offset dev inode path"), then
    // its fields; the file pages are a mapping's Rss less its Anonymous (copied) pages.
    std::ifstream smaps(proc / "smaps");
    std::string path;
    long fileKiB = 0;
    auto account = [&] {
        if (path.find("marrowbellctl") != std::string::npos)
            result.binaryKiB += fileKiB;
        else if (path.find(".so") != std::string::npos)
            result.librariesKiB += fileKiB;
        fileKiB = 0;
    };
    while (std::getline(smaps, line)) {
        if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0])) &&
            line.find('-') < line.find(' ')) {
            account();
            std::istringstream header(line);
            std::string skip;
            header >> skip >> skip >> skip >> skip >> skip;
            std::getline(header >> std::ws, path);
            result.httpMapped = result.httpMapped || path.find("libcurl") != std::string::npos;
            result.secretsMapped =
                result.secretsMapped || path.find("libsecret") != std::string::npos;
            result.textMapped = result.textMapped || path.find("libicu") != std::string::npos;
        } else if (line.starts_with("Rss:")) {
            fileKiB += std::stol(line.substr(4));
        } else if (line.starts_with("Anonymous:")) {
            fileKiB -= std::stol(line.substr(10));
        }
    }
    account();
    return result;
}

// The daemon with 1,000 jobs none of which is due for a while, watched for a minute:
// counters are the thread wake-ups (context switches) and CPU ticks over that minute
// (target: none), the resident memory at its end (target: at most 8 MiB) — its own
// (anonymous) pages, the program file's and the shared libraries' (the C and C++
// runtimes: a floor any process using them pays, shared with the others) — and whether
// the HTTP, credential-store and ICU libraries were mapped (they should not be:
// nothing needed them).
void BM_IdleDaemonMinute(benchmark::State& state) {
    ScratchFolder scratch;
    JobStore store(scratch.path / "data" / "Marrowbell" / "Jobs");
    Instant now = Instant::now();
    for (int i = 0; i < 1000; ++i)
        store.save(benchJob(i, "0 3 1 1 *", now, scratch.path)); // once a year
    for (auto _ : state) {
        std::string binary = std::string(MARROWBELL_BIN_DIR) + "/marrowbellctl";
        std::vector<std::string> env{"HOME=" + scratch.path.string(),
                                     "XDG_DATA_HOME=" + (scratch.path / "data").string(),
                                     "SHELL=/bin/sh", "PATH=/usr/bin:/bin"};
        for (char** e = environ; *e; ++e)
            if (std::string_view(*e).starts_with("DBUS_SESSION_BUS_ADDRESS="))
                env.emplace_back(*e);
        std::vector<char*> envp, argv{binary.data(), const_cast<char*>("daemon"), nullptr};
        for (auto& entry : env)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        ::posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        std::this_thread::sleep_for(std::chrono::seconds(5)); // start-up, shell lookup
        ProcessSample before = sample(pid);
        std::this_thread::sleep_for(std::chrono::seconds(60));
        ProcessSample after = sample(pid);
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        state.counters["wakeUpsPerMinute"] =
            static_cast<double>(after.contextSwitches - before.contextSwitches);
        state.counters["cpuTicksPerMinute"] = static_cast<double>(after.cpuTicks - before.cpuTicks);
        state.counters["residentMiB"] = after.residentKiB / 1024.0;
        state.counters["anonymousMiB"] = after.anonymousKiB / 1024.0;
        state.counters["proportionalMiB"] = after.proportionalKiB / 1024.0;
        state.counters["programFileMiB"] = after.binaryKiB / 1024.0;
        state.counters["librariesMiB"] = after.librariesKiB / 1024.0;
        state.counters["httpLibraryMapped"] = after.httpMapped;
        state.counters["secretLibraryMapped"] = after.secretsMapped;
        state.counters["icuMapped"] = after.textMapped;
    }
}
BENCHMARK(BM_IdleDaemonMinute)->Iterations(1)->Repetitions(1)->Unit(benchmark::kSecond);

} // namespace
