#include "base/Files.h"
#include "run/RunHistory.h"
#include "support/TestSupport.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

constexpr const char* childVariable = "MARROWBELL_TEST_RECORDING_CHILD";

RunRecord run(const Uuid& job, double startedAt, std::string result) {
    RunRecord r;
    r.jobID = job;
    r.startedAt = Instant{startedAt};
    r.duration = 1;
    r.resultText = std::move(result);
    return r;
}

// The child side of the kill test: this same binary, started with the variable set,
// records runs into the named file until it is killed, printing after each flush how
// many records the history holds ("12\n").
const bool isRecordingChild = [] {
    const char* file = std::getenv(childVariable);
    if (!file)
        return false;
    RunHistory history{fs::path(file)};
    Uuid job = Uuid::random();
    for (long i = 0;; ++i) {
        for (int burst = 0; burst < 4; ++burst)
            history.record(run(job, double(i * 4 + burst), std::string(200, 'x')));
        history.flush();
        std::string line = std::to_string(history.allRuns().size()) + "\n";
        if (::write(1, line.data(), line.size()) < 0)
            std::_Exit(1);
    }
}();

// Decodes the file strictly, as a fresh history would, failing the test on any flaw.
std::size_t strictRecordCount(const fs::path& file) {
    auto bytes = files::read(file);
    if (!bytes)
        return 0; // not written yet
    auto document = json::parse(*bytes);
    EXPECT_TRUE(document && document->is_array()) << "runs.json is not a JSON array";
    if (!document || !document->is_array())
        return 0;
    for (const Json& item : *document)
        EXPECT_NO_THROW(RunRecord::fromJson(item));
    return document->size();
}

std::vector<Uuid> someJobs(int count) {
    std::vector<Uuid> jobs;
    for (int t = 0; t < count; ++t)
        jobs.push_back(Uuid::random());
    return jobs;
}

// Each thread records `perThread` runs of its own job, numbered from 0.
void recordFromThreads(RunHistory& history, const std::vector<Uuid>& jobs, int perThread) {
    std::vector<std::thread> writers;
    for (std::size_t t = 0; t < jobs.size(); ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i)
                history.record(run(jobs[t], double(t * 1000 + i), std::to_string(i)));
        });
    for (auto& w : writers)
        w.join();
    history.flush();
}

} // namespace

TEST(RunHistoryConcurrency, KilledWhileRecordingTheFileStaysWholeWithEveryFlushedRecord) {
    ASSERT_FALSE(isRecordingChild);
    test::TempDir dir;
    fs::path file = dir / "runs.json";
    std::string self = fs::read_symlink("/proc/self/exe").string();
    test::ScopedEnv child(childVariable, file.string()); // read by the child alone

    std::size_t lastFlushed = 0;
    for (int round = 0; round < 15; ++round) {
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        char* argv[] = {self.data(), nullptr};
        pid_t pid = -1;
        ASSERT_EQ(posix_spawn(&pid, self.c_str(), &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);

        // Let the child report a few flushes, wait a little (a different time each round),
        // then kill it without warning, most likely in the middle of a write. The last
        // complete report is the number of records flushed before the kill.
        FILE* reports = ::fdopen(out[0], "r");
        char line[32];
        std::size_t reported = 0;
        for (int seen = 0; std::fgets(line, sizeof line, reports);) {
            if (std::string_view(line).ends_with('\n'))
                reported = std::stoul(line);
            if (++seen == 1 + round % 3) {
                std::this_thread::sleep_for(std::chrono::microseconds(700 * (round * 7 % 15)));
                ::kill(pid, SIGKILL);
            }
        }
        std::fclose(reports);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        EXPECT_GE(reported, lastFlushed) << "a restarted child starts from the file";
        lastFlushed = reported;
        EXPECT_GE(strictRecordCount(file), lastFlushed) << "round " << round;
    }
}

TEST(RunHistoryConcurrency, ConcurrentRecordsLoseNothingAndTheFileEndsWithTheLastState) {
    test::TempDir dir;
    RunHistory history(dir / "runs.json");
    constexpr int threads = 6, perThread = 150;
    std::vector<Uuid> jobs = someJobs(threads);
    std::atomic<bool> done{false};
    std::thread reader([&] {
        while (!done) {
            for (const Uuid& job : jobs) // below the cap a run seen stays seen
                EXPECT_TRUE(history.runs(job).empty() || history.lastRun(job));
            EXPECT_LE(history.allRuns().size(), std::size_t(threads * perThread));
            (void)history.pending();
        }
    });
    recordFromThreads(history, jobs, perThread);
    done = true;
    reader.join();
    EXPECT_EQ(history.pending(), 0u);
    for (const Uuid& job : jobs) {
        auto runs = history.runs(job);
        ASSERT_EQ(runs.size(), std::size_t(perThread));
        for (int i = 0; i < perThread; ++i)
            EXPECT_EQ(runs[i].resultText, std::to_string(perThread - 1 - i));
    }
    EXPECT_EQ(RunHistory(dir / "runs.json").allRuns(), history.allRuns());
}

// The cap removes the oldest, so what survives of each thread is its newest runs.
TEST(RunHistoryConcurrency, ConcurrentRecordsBeyondTheCapKeepEachThreadsNewest) {
    test::TempDir dir;
    RunHistory history(dir / "runs.json");
    constexpr int perThread = 700;
    std::vector<Uuid> jobs = someJobs(4);
    recordFromThreads(history, jobs, perThread);
    ASSERT_EQ(history.allRuns().size(), RunHistory::capacity);
    for (const Uuid& job : jobs) {
        auto runs = history.runs(job);
        for (std::size_t k = 0; k < runs.size(); ++k)
            EXPECT_EQ(runs[k].resultText, std::to_string(perThread - 1 - int(k)));
    }
    EXPECT_EQ(RunHistory(dir / "runs.json").allRuns(), history.allRuns());
}
