#pragma once

#include "run/RunEventParsing.h"

namespace marrowbell {

// opencode's `run --format json` output: steps, streamed text parts, tool calls
// ("tool_use" in current releases, "tool" in older ones), step usage and errors.
// The answer is the streamed text, taken at the end of the stream.
class OpencodeJSONParser final : public RunEventParsing {
public:
    void read(std::string_view line, RunSummary& summary) const override;
    void finish(RunSummary& summary) const override;
};

} // namespace marrowbell
