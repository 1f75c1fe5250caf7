// Feeds arbitrary bytes through the output line splitter into one of the four event
// parsers. Byte 0 picks the parser, byte 1 the read size; the rest is the stream.
// Checks what must hold for any input: no crash, the same lines whatever the read
// size, the same events whether the lines go one by one or together, valid UTF-8
// everywhere in the summary, and the bound on events.

#include "base/Utf8.h"
#include "harness/EventFormat.h"
#include "run/OutputSink.h"
#include "run/RunEventParsers.h"
#include "run/RunEventStream.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace marrowbell;

namespace {

std::vector<std::string> split(std::string_view stream, std::size_t chunk) {
    std::vector<std::string> lines;
    OutputSink sink([&](std::string_view line) { lines.emplace_back(line); });
    for (std::size_t i = 0; i < stream.size(); i += chunk)
        sink.ingest(stream.substr(i, chunk));
    sink.finish();
    if (!utf8::isValid(sink.text()))
        std::abort();
    return lines;
}

void check(const std::optional<std::string>& text) {
    if (text && !utf8::isValid(*text))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    constexpr EventFormat formats[] = {EventFormat::claudeStreamJSON, EventFormat::codexJSONL,
                                       EventFormat::opencodeJSON, EventFormat::piJSON};
    EventFormat format = formats[data[0] % 4];
    std::size_t chunk = 1 + data[1] % 64;
    std::string_view stream(reinterpret_cast<const char*>(data + 2), size - 2);

    std::vector<std::string> lines = split(stream, chunk);
    if (lines != split(stream, stream.size() + 1))
        std::abort();

    RunEventStream events(RunEventParsers::parser(format));
    for (const std::string& line : lines) {
        if (!utf8::isValid(line))
            std::abort();
        events.ingest(line);
    }
    RunSummary summary = events.summary();
    if (summary.events.size() >= RunSummary::eventLimit)
        std::abort();
    RunEventStream together(RunEventParsers::parser(format));
    together.ingest(std::vector<std::string_view>(lines.begin(), lines.end()));
    RunSummary other = together.summary();
    if (other.events.size() != summary.events.size() || other.resultText != summary.resultText ||
        other.failureMessage != summary.failureMessage)
        std::abort();
    for (std::size_t i = 0; i < other.events.size(); ++i)
        if (other.events[i].kind != summary.events[i].kind ||
            other.events[i].text != summary.events[i].text)
            std::abort();
    for (const RunEvent& event : summary.events)
        if (!utf8::isValid(event.text))
            std::abort();
    check(summary.resultText);
    check(summary.failureMessage);
    check(summary.warning);
    // Raw bytes straight into a parser, as a caller without a sink might do.
    RunEventParsers::parser(format).parse(stream);
    return 0;
}
