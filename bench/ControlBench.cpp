// The control channel's speed targets: a status round trip (in process and through
// `marrowbellctl status`); a harness printing 256 MiB of short lines as fast as it can,
// written to its transcript, and followed by a client; and meanwhile the lateness of
// the scheduler queue's timers (its tick latency).
#include "control/ControlClient.h"
#include "control/ControlServer.h"
#include "harness/HarnessRegistry.h"
#include "harness/HarnessSpec.h"
#include "run/JobRunner.h"
#include "scheduler/SerialTimerQueue.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace marrowbell;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::int64_t harnessBytes = 256 << 20;

// A scheduler with a stand-in harness that prints 4 MiB of 64-byte lines `times`
// times, a transcript folder, and a control server, all in a scratch folder.
struct Bench {
    explicit Bench(int times = static_cast<int>(harnessBytes >> 22)) {
        std::string pattern = (fs::temp_directory_path() / "marrowbell-bench.XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        {
            std::ofstream out(folder / "lines");
            std::string line = std::string(63, 'x') + "\n";
            for (int i = 0; i < (4 << 20) / 64; ++i)
                out << line;
        }
        std::string script = "#!/bin/sh\ncat >/dev/null\nexec cat";
        for (int i = 0; i < times; ++i)
            script += " '" + (folder / "lines").string() + "'";
        fs::create_directories(folder / "bin");
        std::ofstream(folder / "bin" / "standin") << script << "\n";
        fs::permissions(folder / "bin" / "standin", fs::perms::owner_all);
        HarnessSpec spec = HarnessSpec::decode(Json::parse(R"({
          "id": "standin", "displayName": "Stand-in", "executableNames": ["standin"],
          "subcommand": [], "headlessFlags": ["--print"],
          "structuredOutputFlags": ["--output-format", "stream-json"],
          "promptDelivery": "standardInput", "modelFlag": "--model",
          "eventFormat": "claudeStreamJSON", "permissions": {"fullAccess": ["--yes"]},
          "localEndpoint": {"style": "environment", "variable": "ANTHROPIC_BASE_URL"},
          "limitEnforcement": "harnessPathChecks",
          "apiKeyVariables": {"anthropic": "ANTHROPIC_API_KEY"},
          "endpointProtocol": "anthropic"})"));
        HarnessRegistry registry({spec}, {(folder / "bin").string()}, {}, {}, {},
                                 std::make_shared<ShellPath>());
        history = std::make_shared<RunHistory>();
        live = std::make_shared<LiveRuns>(TranscriptFolder(folder / "Runs"));
        store = std::make_shared<JobStore>(folder / "Jobs");
        auto runner = std::make_shared<JobRunner>(
            registry, history, EndpointProbe(2), RunExecutor(), CommandBuilder{},
            SecretStore("bench.marrowbell", SecretStore::Backend::file, folder / "secrets.json"),
            live);
        service = SchedulerService::create(
            store, history, std::make_shared<EndpointStore>(folder / "endpoints.json"),
            std::make_shared<SettingsStore>(folder / "settings.json"), runner);
        job.emplace(Job{.id = Uuid::random(),
                        .name = "Flood",
                        .prompt = "Print",
                        .workingDirectory = FileUrl::fromPath(folder, true),
                        .harnessID = "standin",
                        .endpointID = std::nullopt,
                        .model = std::nullopt,
                        .skills = {},
                        .permission = PermissionLevel::fullAccess,
                        .schedule = CronExpression("0 3 1 1 *"),
                        .timeZoneIdentifier = "UTC",
                        .isPaused = false,
                        .limitOverrides = {},
                        .offlinePolicy = OfflinePolicy::skipAndNotify,
                        .createdAt = Instant::now(),
                        .resumedAt = std::nullopt});
        store->save(*job);
        fs::create_directories(folder / "run");
        fs::permissions(folder / "run", fs::perms::owner_all);
        socket = folder / "run" / "marrowbell" / "control";
        fs::create_directories(socket.parent_path());
        fs::permissions(socket.parent_path(), fs::perms::owner_all);
        server = ControlServer::start({service, store, live, "daemon", nullptr, nullptr}, socket);
    }
    ~Bench() {
        server->stop();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    fs::path folder;
    fs::path socket;
    std::shared_ptr<RunHistory> history;
    std::shared_ptr<LiveRuns> live;
    std::shared_ptr<JobStore> store;
    std::shared_ptr<SchedulerService> service;
    std::optional<Job> job;
    std::shared_ptr<ControlServer> server;
};

void statusRoundTrip(benchmark::State& state) {
    Bench bench;
    for (auto _ : state) {
        auto client = ControlClient::connect(bench.socket);
        client->send({{"request", "status"}});
        benchmark::DoNotOptimize(client->expect());
    }
}

void ctlStatusProcess(benchmark::State& state) {
    Bench bench;
    std::string binary = std::string(MARROWBELL_BIN_DIR) + "/marrowbellctl";
    std::string runtime = "XDG_RUNTIME_DIR=" + (bench.folder / "run").string();
    std::vector<char*> envp{runtime.data()};
    for (char** e = environ; *e; ++e)
        if (std::string_view(*e).rfind("XDG_RUNTIME_DIR=", 0) != 0)
            envp.push_back(*e);
    envp.push_back(nullptr);
    char status[] = "status";
    char* argv[] = {binary.data(), status, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    // Its CPU time besides the wall time: on a busy machine most of the wall time is
    // waiting for a core.
    std::vector<double> cpuMilliseconds;
    for (auto _ : state) {
        pid_t pid;
        if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data()) != 0)
            throw std::runtime_error("cannot start marrowbellctl");
        int code = 0;
        rusage usage{};
        ::wait4(pid, &code, 0, &usage);
        if (!WIFEXITED(code) || WEXITSTATUS(code) != 0)
            state.SkipWithError("marrowbellctl status failed");
        cpuMilliseconds.push_back(
            static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::sort(cpuMilliseconds.begin(), cpuMilliseconds.end());
    if (!cpuMilliseconds.empty())
        state.counters["cpuMedianMs"] = cpuMilliseconds[cpuMilliseconds.size() / 2];
}

// User and system time of this whole process so far.
double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Lateness of 5 ms timers on a serial queue like the scheduler's, in milliseconds.
class TickProbe {
public:
    TickProbe()
        : thread_([this](std::stop_token stop) {
            SerialTimerQueue queue("com.marrowbell.scheduler");
            while (!stop.stop_requested()) {
                std::atomic<bool> fired = false;
                Clock::time_point armed = Clock::now();
                Clock::time_point at;
                auto timer = queue.makeTimer(0.005, [&] {
                    at = Clock::now();
                    fired = true;
                    fired.notify_one();
                });
                timer->start();
                fired.wait(false);
                double late = std::chrono::duration<double, std::milli>(at - armed).count() - 5.0;
                std::lock_guard lock(mutex_);
                lateness_.push_back(late);
            }
        }) {}
    std::pair<double, double> medianAndMax() {
        thread_.request_stop();
        thread_.join();
        std::sort(lateness_.begin(), lateness_.end());
        if (lateness_.empty())
            return {0, 0};
        return {lateness_[lateness_.size() / 2], lateness_.back()};
    }

private:
    std::mutex mutex_;
    std::vector<double> lateness_;
    std::jthread thread_;
};

// The harness's output into the transcript, with no client; `follow` adds a client
// following the run from its start.
void flood(benchmark::State& state, bool follow) {
    Bench bench;
    TickProbe probe;
    std::int64_t followed = 0;
    double cpu = 0;
    for (auto _ : state) {
        double cpuBefore = processCpuSeconds();
        ControlClient run = *ControlClient::connect(bench.socket);
        run.send({{"request", "run"}, {"job", bench.job->id.text()}});
        run.expect();
        std::jthread follower;
        if (follow) {
            while (bench.live->runs().empty())
                std::this_thread::yield();
            follower = std::jthread([&] {
                ControlClient client = *ControlClient::connect(bench.socket);
                client.send({{"request", "follow"}, {"job", bench.job->id.text()}});
                client.expect();
                Json message;
                ControlClient::Output output;
                for (;;) {
                    ControlClient::Read read =
                        client.read(message, output, std::chrono::seconds(60));
                    if (read == ControlClient::Read::output)
                        followed += static_cast<std::int64_t>(output.text.size()) + 1;
                    else if (read != ControlClient::Read::message ||
                             message.value("event", "") == "runFinished")
                        break;
                }
            });
        }
        Json finished;
        do
            finished = run.expect(std::chrono::minutes(5));
        while (finished.value("event", "") != "runFinished");
        if (follower.joinable())
            follower.join();
        cpu += processCpuSeconds() - cpuBefore;
    }
    auto [median, worst] = probe.medianAndMax();
    state.SetBytesProcessed(state.iterations() * harnessBytes);
    // The CPU this process spent (scheduler, server, follower and probe; not the
    // stand-in harness), per MB of output: on a shared machine the wall time mostly
    // measures the wait for a core.
    state.counters["cpuSeconds"] = cpu / static_cast<double>(state.iterations());
    state.counters["MBperCpuSecond"] =
        static_cast<double>(harnessBytes) / 1e6 / (cpu / static_cast<double>(state.iterations()));
    state.counters["tickLateMedianMs"] = median;
    state.counters["tickLateMaxMs"] = worst;
    if (follow)
        state.counters["followedShare"] =
            static_cast<double>(followed) / static_cast<double>(state.iterations() * harnessBytes);
}

void transcriptThroughput(benchmark::State& state) {
    flood(state, false);
}
void followThroughput(benchmark::State& state) {
    flood(state, true);
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// 1 GiB of short lines while a follower reads nothing until the run ends: the growth
// of this process's resident memory meanwhile (at most the follower's 8 MiB queue
// and the socket buffers; none of it grows with the output), the lines the follower
// was told it lost, and the scheduler's tick lateness.
void silentFollower(benchmark::State& state) {
    constexpr std::int64_t bytes = std::int64_t(1) << 30;
    Bench bench(static_cast<int>(bytes >> 22));
    TickProbe probe;
    long peakGrowth = 0;
    std::uint64_t dropped = 0;
    for (auto _ : state) {
        ControlClient run = *ControlClient::connect(bench.socket);
        run.send({{"request", "run"}, {"job", bench.job->id.text()}});
        run.expect();
        while (bench.live->runs().empty())
            std::this_thread::yield();
        ControlClient silent = *ControlClient::connect(bench.socket);
        int small = 4096;
        ::setsockopt(silent.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        silent.send({{"request", "follow"}, {"job", bench.job->id.text()}});
        long before = residentKiB();
        std::atomic<bool> done = false;
        std::jthread sampler([&] {
            while (!done) {
                peakGrowth = std::max(peakGrowth, residentKiB() - before);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        Json finished;
        do
            finished = run.expect(std::chrono::minutes(10));
        while (finished.value("event", "") != "runFinished");
        done = true;
        sampler.join();
        Json message;
        while (silent.read(message, std::chrono::seconds(60)) == ControlClient::Read::message)
            if (message.value("event", "") == "dropped")
                dropped += message["lines"].get<std::uint64_t>();
    }
    auto [median, worst] = probe.medianAndMax();
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["residentGrowthMiB"] = static_cast<double>(peakGrowth) / 1024.0;
    state.counters["droppedLines"] = static_cast<double>(dropped);
    state.counters["tickLateMedianMs"] = median;
    state.counters["tickLateMaxMs"] = worst;
}

} // namespace

BENCHMARK(statusRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(ctlStatusProcess)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(50);
BENCHMARK(transcriptThroughput)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(followThroughput)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(silentFollower)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
