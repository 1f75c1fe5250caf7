// Parsing throughput per event format, on a large stream made of real captures.

#include "base/Files.h"
#include "harness/EventFormat.h"
#include "run/RunEventParsers.h"
#include "run/RunEventStream.h"

#include <benchmark/benchmark.h>
#include <filesystem>

using namespace marrowbell;

namespace {

// About 16 MB of a captured stream, repeated.
const std::string& largeStream(const std::string& name) {
    static std::map<std::string, std::string> cache;
    auto& stream = cache[name];
    if (stream.empty()) {
        auto folder =
            std::filesystem::path(__FILE__).parent_path().parent_path() / "tests/data/run";
        auto capture = files::read(folder / name);
        if (!capture || capture->empty())
            throw std::runtime_error("missing capture " + name);
        while (stream.size() < (16u << 20))
            stream += *capture;
    }
    return stream;
}

void parse(benchmark::State& state, EventFormat format, const std::string& capture) {
    const std::string& stream = largeStream(capture);
    for (auto _ : state) {
        // Line by line through a stream, as a run feeds it.
        RunEventStream events(RunEventParsers::parser(format));
        std::string_view rest = stream;
        while (!rest.empty()) {
            std::size_t newline = rest.find('\n');
            events.ingest(rest.substr(0, newline));
            rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
        }
        benchmark::DoNotOptimize(events.summary());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}

} // namespace

BENCHMARK_CAPTURE(parse, claudeStreamJSON, EventFormat::claudeStreamJSON,
                  "claude-tool-denied.jsonl")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(parse, codexJSONL, EventFormat::codexJSONL, "codex-tool-workspace.jsonl")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(parse, opencodeJSON, EventFormat::opencodeJSON, "opencode-tool.jsonl")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(parse, piJSON, EventFormat::piJSON, "pi-tool.jsonl")
    ->Unit(benchmark::kMillisecond);
