#pragma once

#include "run/RunEventParsing.h"

namespace marrowbell {

// Codex's `exec --json` output: "thread.started", "item.completed" (agent messages,
// errors, other items with text), "turn.completed" with usage, "turn.failed".
class CodexJSONLParser final : public RunEventParsing {
public:
    void read(std::string_view line, RunSummary& summary) const override;
};

} // namespace marrowbell
