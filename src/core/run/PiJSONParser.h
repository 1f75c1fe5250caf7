#pragma once

#include "run/RunEventParsing.h"

namespace marrowbell {

// Pi's `--mode json` output: "session", "agent_end", and assistant "message_end"
// events carrying usage, the answer or an error.
//
// Pi retries a failed request by itself, and every failed attempt ends an assistant
// message with an error. The last assistant message therefore decides: one that
// ends without an error clears a failure recorded by an earlier attempt, so a run
// whose retry succeeded is not recorded as failed.
class PiJSONParser final : public RunEventParsing {
public:
    void read(std::string_view line, RunSummary& summary) const override;
};

} // namespace marrowbell
