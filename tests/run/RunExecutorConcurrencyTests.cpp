#include "harness/EventFormat.h"
#include "run/RunEventParsers.h"
#include "run/RunEventStream.h"
#include "run/RunExecutor.h"
#include "support/TestSupport.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>

using namespace marrowbell;

namespace {

BuiltCommand shell(const std::string& script, std::optional<std::string> input = {}) {
    BuiltCommand command;
    command.executable = "/bin/sh";
    command.arguments = {"-c", script};
    command.environment = {{"PATH", "/usr/bin:/bin"}};
    command.workingDirectory = "/";
    command.standardInput = std::move(input);
    return command;
}

std::size_t openDescriptors() {
    using std::filesystem::directory_iterator;
    return static_cast<std::size_t>(
        std::distance(directory_iterator("/proc/self/fd"), directory_iterator()));
}

} // namespace

TEST(RunExecutorConcurrency, CancellationFromAnotherThreadStopsTheRun) {
    std::stop_source source;
    std::atomic<bool> ready = false;
    auto run = std::async(std::launch::async, [&] {
        return RunExecutor({0.5, 0.5, 0.5})
            .run(
                shell("echo ready; exec sleep 30"), 60, [&](std::string_view) { ready = true; },
                source.get_token());
    });
    test::eventually([&] { return ready.load(); });
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
            return RunExecutor({0.5, 0.5, 0.5}).run(shell("echo x"), 10, {}, source.get_token());
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
    std::size_t descriptors = openDescriptors();
    std::vector<std::thread> threads;
    std::atomic<int> wrong = 0;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 15; ++i) {
                std::string tag = std::to_string(t) + "-" + std::to_string(i);
                int lines = 0;
                RunOutcome outcome =
                    RunExecutor().run(shell("cat; i=0; while [ $i -lt 50 ]; do echo " + tag +
                                                "; i=$((i+1)); done; echo " + tag + " >&2",
                                            tag + "\n"),
                                      30, [&](std::string_view line) { lines += line == tag; });
                wrong +=
                    lines != 51 || outcome.exitCode != 0 || outcome.standardError != tag + "\n";
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(openDescriptors(), descriptors);
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
    EXPECT_EQ(stream.summary().resultText, "m");
    EXPECT_LT(stream.summary().events.size(), 1000u);
}
