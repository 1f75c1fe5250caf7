#pragma once

#include "run/RunSummary.h"

#include <span>
#include <string_view>

namespace marrowbell {

// Turns the lines of one harness's event stream into a RunSummary. Implementations
// hold no state, so one instance serves any number of streams and threads.
class RunEventParsing {
public:
    virtual ~RunEventParsing() = default;

    // Applies one line. Never throws on any input. A line that does not open like an
    // object is text, as OutputLine::decode takes it.
    virtual void read(std::string_view line, RunSummary& summary) const = 0;
    // Applies lines in order, as `read` one by one would; a run of plain-text lines
    // goes on together (see RunSummary::append).
    void readLines(std::span<const std::string_view> lines, RunSummary& summary) const;
    // Applies the end-of-stream rules to a summary.
    virtual void finish(RunSummary& summary) const {}

    // A whole stream at once: every non-empty newline-separated piece, then finish.
    RunSummary parse(std::string_view text) const;
};

} // namespace marrowbell
