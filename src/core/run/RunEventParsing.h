#pragma once

#include "run/RunSummary.h"

#include <string_view>

namespace marrowbell {

// Turns the lines of one harness's event stream into a RunSummary. Implementations
// hold no state, so one instance serves any number of streams and threads.
class RunEventParsing {
public:
    virtual ~RunEventParsing() = default;

    // Applies one line. Never throws on any input.
    virtual void read(std::string_view line, RunSummary& summary) const = 0;
    // Applies the end-of-stream rules to a summary.
    virtual void finish(RunSummary& summary) const {}

    // A whole stream at once: every non-empty newline-separated piece, then finish.
    RunSummary parse(std::string_view text) const;
};

} // namespace marrowbell
