#pragma once

#include "endpoint/EndpointProbe.h"
#include "endpoint/SecretStore.h"
#include "harness/BuiltCommand.h"
#include "harness/CommandBuilder.h"
#include "harness/HarnessRegistry.h"
#include "run/JobRunning.h"
#include "run/RunExecutor.h"
#include "run/RunHistory.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace marrowbell {

// Carries one run from job to record: builds the command, refuses runs that cannot work
// (unknown harness, missing executable, an endpoint of the wrong protocol, an endpoint
// that cannot be reached), runs the harness within the job's time limit while parsing
// its event stream, and stores exactly one RunRecord in the history, whatever happened.
// Holds only its collaborators; any number of runs may proceed at once.
class JobRunner : public JobRunning {
public:
    JobRunner(HarnessRegistry registry, std::shared_ptr<RunHistory> history, EndpointProbe probe,
              RunExecutor executor, CommandBuilder builder, SecretStore secrets);

    // Never fails. Warnings of the command reach `onOutputLine` first, as "warning: "
    // lines (they are not stored), then every line of the harness's standard output.
    // A refused run is a record with duration 0 and exit code 1 (0 for a skip). The
    // endpoint's key never reaches a line or the record ("[redacted]" instead), and the
    // record's texts are bounded (RunRecord::bounded).
    RunRecord run(const Job& job, const std::optional<Endpoint>& endpoint,
                  const RunLimits& defaults, Instant now, LineHandler onOutputLine,
                  std::stop_token stopToken = {}, ProcessHandler onStarted = {}) const override;

    // The command `run` would start, without starting it. Throws HarnessError when the
    // harness is unknown or its executable cannot be found.
    BuiltCommand preview(const Job& job, const std::optional<Endpoint>& endpoint) const;

    // The endpoint's stored key; none without an endpoint, for a kind that takes no
    // key, when none is stored or the credential store fails.
    std::optional<std::string> apiKey(const std::optional<Endpoint>& endpoint) const;

    // A time limit as the whole seconds handed to the executor: the fraction dropped.
    // None for a limit that is not finite or beyond what a 64-bit count of seconds
    // holds; such a run is refused with `unusableLimitMessage`.
    static std::optional<std::int64_t> wholeSeconds(Seconds limit);

    // What a failure message keeps of the harness's last line of standard error.
    static constexpr std::size_t errorLineLimit = 1024;

    static constexpr const char* unusableLimitMessage =
        "The time limit is not a usable number of seconds. Set a time limit for this job.";

private:
    RunRecord refused(const Job& job, Instant now, std::string message, bool skip = false) const;

    HarnessRegistry registry_;
    std::shared_ptr<RunHistory> history_;
    EndpointProbe probe_;
    RunExecutor executor_;
    CommandBuilder builder_;
    SecretStore secrets_;
};

} // namespace marrowbell
