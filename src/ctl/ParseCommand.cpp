// marrowbellctl parse FORMAT [FILE] [--json]: what Marrowbell makes of a harness's
// event stream, for debugging a harness and for tests.

#include "Command.h"
#include "TerminalText.h"

#include "base/Json.h"
#include "harness/EventFormat.h"
#include "run/OutputSink.h"
#include "run/RunEventParsers.h"
#include "run/RunEventStream.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

namespace marrowbell::ctl {

namespace {

// Feeds the stream through the same line splitting and UTF-8 repair as a run.
bool readStream(int fd, RunEventStream& stream) {
    OutputSink sink([&](std::string_view line) { stream.ingest(line); });
    std::string buffer(1 << 16, '\0');
    for (;;) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n > 0)
            sink.ingest(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        else if (n == 0)
            break;
        else if (errno != EINTR)
            return false;
    }
    sink.finish();
    return true;
}

Json summaryJson(const RunSummary& summary) {
    Json events = Json::array();
    for (const RunEvent& event : summary.events)
        events.push_back({{"kind", std::string(rawValue(event.kind))}, {"text", event.text}});
    Json out = {{"events", events}};
    if (summary.resultText)
        out["resultText"] = *summary.resultText;
    if (summary.inputTokens)
        out["inputTokens"] = *summary.inputTokens;
    if (summary.outputTokens)
        out["outputTokens"] = *summary.outputTokens;
    if (summary.failureMessage)
        out["failureMessage"] = *summary.failureMessage;
    if (summary.warning)
        out["warning"] = *summary.warning;
    return out;
}

// Continuation lines of a multi-line text line up under its first line.
std::string indented(const std::string& text, std::size_t width) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '\n')
            out.append(width, ' ');
    }
    return out;
}

void printSummary(const RunSummary& summary, std::ostream& out) {
    out << "Events: " << summary.events.size() << "\n";
    for (const RunEvent& event : summary.events) {
        std::string kind(rawValue(event.kind));
        kind.resize(10, ' ');
        out << "  " << kind << indented(event.text, 12) << "\n";
    }
    auto tokens = [](const std::optional<std::int64_t>& count) {
        return count ? std::to_string(*count) : std::string("none");
    };
    out << "Result: " << (summary.resultText ? indented(*summary.resultText, 8) : "none") << "\n";
    out << "Tokens: " << tokens(summary.inputTokens) << " input, " << tokens(summary.outputTokens)
        << " output\n";
    out << "Failure: " << summary.failureMessage.value_or("none") << "\n";
    out << "Warning: " << summary.warning.value_or("none") << "\n";
}

int run(Arguments arguments) {
    bool asJson = false;
    std::vector<std::string> positional;
    for (const std::string& argument : arguments) {
        if (argument == "--json")
            asJson = true;
        else if (argument.size() > 1 && argument[0] == '-')
            return unknownOption(argument);
        else
            positional.push_back(argument);
    }
    if (positional.empty() || positional.size() > 2)
        return usage("usage: marrowbellctl parse FORMAT [FILE] [--json]");
    std::optional<EventFormat> format = eventFormatFromRaw(positional[0]);
    if (!format)
        return usage("parse: unknown format \"" + positional[0] +
                     "\" (claudeStreamJSON, codexJSONL, opencodeJSON or piJSON)");

    int fd = STDIN_FILENO;
    std::string source = "standard input";
    if (positional.size() == 2 && positional[1] != "-") {
        source = positional[1];
        fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::cerr << "marrowbellctl: cannot read " << source << ": " << std::strerror(errno)
                      << "\n";
            return failure;
        }
    }
    RunEventStream stream(RunEventParsers::parser(*format));
    bool complete = readStream(fd, stream);
    int readError = errno;
    if (fd != STDIN_FILENO)
        ::close(fd);
    if (!complete) {
        std::cerr << "marrowbellctl: cannot read " << source << ": " << std::strerror(readError)
                  << "\n";
        return failure;
    }
    RunSummary summary = stream.summary();
    if (asJson)
        jsonOutput() << json::pretty(summaryJson(summary));
    else
        printSummary(summary, std::cout);
    std::cout.flush();
    return std::cout ? success : failure;
}

const Command command{
    "parse",
    Help{Group::history, "what Marrowbell makes of a harness event stream",
         "parse FORMAT [FILE] [--json]",
         "FORMAT is claudeStreamJSON, codexJSONL, opencodeJSON or piJSON; without FILE (or\n"
         "with -) the stream is read from standard input.\n"
         "  --json                as JSON",
         "marrowbellctl parse claudeStreamJSON session.jsonl"},
    &run};

} // namespace

} // namespace marrowbell::ctl
