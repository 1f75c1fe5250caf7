// Executor overhead for a child that exits at once, and draining a child that
// writes 256 MiB of short lines through the line callback.

#include "run/RunExecutor.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

void spawnToOutcome(benchmark::State& state) {
    BuiltCommand command;
    command.executable = "/bin/true";
    command.workingDirectory = "/";
    RunExecutor executor;
    for (auto _ : state)
        benchmark::DoNotOptimize(executor.run(command, 10));
}

// 4 MiB of 64-byte lines in a temporary file, printed 64 times by one cat.
void drainShortLines(benchmark::State& state) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/marrowbell-bench.XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    fs::path folder = pattern;
    {
        std::ofstream out(folder / "lines");
        std::string line = std::string(63, 'x') + "\n";
        for (int i = 0; i < (4 << 20) / 64; ++i)
            out << line;
    }
    BuiltCommand command;
    command.executable = "/bin/cat";
    command.workingDirectory = folder;
    for (int i = 0; i < 64; ++i)
        command.arguments.push_back("lines");
    RunExecutor executor;
    std::size_t lines = 0;
    for (auto _ : state) {
        RunOutcome outcome =
            executor.run(command, 600, [&](std::string_view line) { lines += line.size() == 63; });
        benchmark::DoNotOptimize(outcome);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (256 << 20));
    state.counters["lines"] = static_cast<double>(lines) / static_cast<double>(state.iterations());
    fs::remove_all(folder);
}

} // namespace

BENCHMARK(spawnToOutcome)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(drainShortLines)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
