#pragma once

#include "run/RunEvent.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace marrowbell {

// What a run's event stream amounts to.
struct RunSummary {
    // Reaching this many events drops the oldest, keeping the newest `eventsKept`.
    static constexpr std::size_t eventLimit = 1000;
    static constexpr std::size_t eventsKept = 500;
    // An event's text beyond this many bytes is cut, ending in "…": the events are
    // for display, and their number times this bounds what a run keeps of them.
    static constexpr std::size_t eventTextLimit = 4096;
    // What `streamedText` keeps at most; the record keeps less.
    static constexpr std::size_t streamedTextLimit = 256 * 1024;

    std::vector<RunEvent> events;          // arrival order, never more than 999
    std::optional<std::string> resultText; // the run's final answer
    // The run's totals: the harness's last report where it reports totals (claude,
    // codex), the sum of its reports where it reports each model call (opencode, pi).
    std::optional<std::int64_t> inputTokens;
    std::optional<std::int64_t> outputTokens;
    std::optional<std::string> failureMessage; // set when the stream says the run failed
    std::optional<std::string> warning;        // set when it succeeded only partly
    std::string streamedText;                  // assistant text as it streamed (opencode)

    void append(RunEvent event);
    // As above, the text repaired where it is not UTF-8, and copied into the storage of
    // events dropped earlier on this thread where it fits.
    void append(RunEvent::Kind kind, std::string_view text);
    // As appending an event of each text in turn, making only those that remain: of a
    // flood of plain lines, only the newest can.
    void append(RunEvent::Kind kind, std::span<const std::string_view> texts);
    // Adds one model call's report to the totals; a count it leaves out adds nothing.
    void addTokens(std::optional<std::int64_t> input, std::optional<std::int64_t> output);

    friend bool operator==(const RunSummary&, const RunSummary&) = default;

private:
    void dropOldest(std::size_t count);
};

} // namespace marrowbell
