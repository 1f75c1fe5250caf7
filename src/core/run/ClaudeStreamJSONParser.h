#pragma once

#include "run/JSONObject.h"
#include "run/RunEventParsing.h"

#include <string>
#include <vector>

namespace marrowbell {

// Claude Code's "stream-json" output: "system" starts, "assistant" messages,
// and a closing "result" with answer, usage, error flag and permission denials.
class ClaudeStreamJSONParser final : public RunEventParsing {
public:
    void read(std::string_view line, RunSummary& summary) const override;
};

// The warning for tools a run was refused: "Blocked — Bash ×2, Write needed
// permission…", names by how often they were denied, then by name.
std::string blockedToolsMessage(const std::vector<JSONObject>& denials);

} // namespace marrowbell
