#include "harness/EventFormat.h"
#include "run/RunEventParsers.h"
#include "run/RunEventStream.h"
#include "run/RunExecutor.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

const RunExecutor::Timing quick{0.5, 0.5, 0.5};

BuiltCommand shell(const std::string& script) {
    BuiltCommand command;
    command.executable = "/bin/sh";
    command.arguments = {"-c", script};
    command.environment = {{"PATH", "/usr/bin:/bin"}};
    command.workingDirectory = "/";
    return command;
}

std::size_t countEntries(const char* folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

} // namespace

TEST(RunExecutorConcurrency, CancellationFromAnotherThreadStopsTheRun) {
    std::stop_source source;
    std::promise<void> ready;
    auto started = ready.get_future();
    std::atomic<bool> announced = false;
    auto run = std::async(std::launch::async, [&] {
        return RunExecutor(quick).run(
            shell("echo ready; exec sleep 30"), 60,
            [&](std::string_view line) {
                if (line == "ready" && !announced.exchange(true))
                    ready.set_value();
            },
            source.get_token());
    });
    started.wait();
    source.request_stop();
    RunOutcome outcome = run.get();
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.exitCode, SIGTERM);
    EXPECT_LT(outcome.duration, 2);
}

TEST(RunExecutorConcurrency, CancellationRacingTheExitYieldsOneConsistentOutcome) {
    for (int i = 0; i < 40; ++i) {
        std::stop_source source;
        auto run = std::async(std::launch::async, [&] {
            return RunExecutor(quick).run(shell("echo x"), 10, {}, source.get_token());
        });
        std::this_thread::sleep_for(std::chrono::microseconds(50 * (i % 20)));
        source.request_stop();
        RunOutcome outcome = run.get();
        EXPECT_FALSE(outcome.timedOut);
        if (outcome.cancelled)
            EXPECT_TRUE(outcome.exitCode == SIGTERM || outcome.exitCode == -1 ||
                        outcome.exitCode == 0)
                << outcome.exitCode;
        else
            EXPECT_EQ(outcome.exitCode, 0);
    }
}

TEST(RunExecutorConcurrency, ManyConcurrentRunsKeepTheirOwnOutputAndLeakNothing) {
    std::size_t descriptors = countEntries("/proc/self/fd");
    std::vector<std::thread> threads;
    std::atomic<int> wrong = 0;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 15; ++i) {
                std::string tag = std::to_string(t) + "-" + std::to_string(i);
                BuiltCommand command = shell("cat; i=0; while [ $i -lt 50 ]; do echo " + tag +
                                             "; i=$((i+1)); done; echo " + tag + " >&2");
                command.standardInput = tag + "\n";
                int lines = 0;
                RunOutcome outcome = RunExecutor().run(command, 30, [&](std::string_view line) {
                    if (line == tag)
                        ++lines;
                });
                if (lines != 51 || outcome.exitCode != 0 || outcome.standardError != tag + "\n")
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(countEntries("/proc/self/fd"), descriptors);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(RunEventStreamConcurrency, SummariesWhileLinesArrive) {
    RunEventStream stream(RunEventParsers::parser(EventFormat::codexJSONL));
    std::atomic<bool> done = false;
    std::thread reader([&] {
        std::size_t seen = 0;
        while (!done) {
            std::size_t now = stream.summary().events.size();
            EXPECT_GE(now + 500, seen); // the bound drops old events, never more
            seen = now;
        }
    });
    for (int i = 0; i < 3000; ++i)
        stream.ingest(R"({"type":"item.completed","item":{"type":"agent_message","text":"m"}})");
    done = true;
    reader.join();
    RunSummary summary = stream.summary();
    EXPECT_EQ(summary.resultText, "m");
    EXPECT_LT(summary.events.size(), 1000u);
}
