#pragma once

#include "endpoint/EndpointProbe.h"
#include "endpoint/SecretStore.h"
#include "harness/BuiltCommand.h"
#include "harness/CommandBuilder.h"
#include "harness/HarnessRegistry.h"
#include "run/JobRunning.h"
#include "run/LiveRuns.h"
#include "run/RunExecutor.h"
#include "run/RunHistory.h"
#include "run/RunWorktree.h"

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
    // With `live`, every run that starts its harness is registered there, keeps a
    // transcript and reaches its listener.
    JobRunner(HarnessRegistry registry, std::shared_ptr<RunHistory> history, EndpointProbe probe,
              RunExecutor executor, CommandBuilder builder, SecretStore secrets,
              std::shared_ptr<LiveRuns> live = nullptr);

    // Never fails. Warnings of the command reach `onOutputLine` first, as "warning: "
    // lines (they are not stored), then every line of the harness's standard output.
    // The record's identifier names the run's transcript.
    // A refused run is a record with duration 0 and exit code 1 (0 for a skip). The
    // endpoint's key never reaches a line or the record ("[redacted]" instead), and the
    // record's texts are bounded (RunRecord::bounded).
    RunRecord run(const Job& job, const std::optional<Endpoint>& endpoint,
                  const RunLimits& defaults, Instant now, LineHandler onOutputLine,
                  std::stop_token stopToken = {}, ProcessHandler onStarted = {}) const override;

    // A scoped-write run of a folder in a git repository works in a worktree of its own
    // (RunWorktree) and its record's summary names the branch holding its changes.
    //
    // The command `run` would start, without starting it. Throws HarnessError when the
    // harness is unknown or its executable cannot be found. The run's private folder is
    // named by `privateFolderPattern`, a worktree by RunWorktree::pattern.
    BuiltCommand preview(const Job& job, const std::optional<Endpoint>& endpoint) const;

    // Where each run keeps the files its command needs for itself alone, as a pattern:
    // "{cache}/runs/{run}".
    static std::filesystem::path privateFolderPattern();

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
    BuiltCommand command(const Job& job, const std::optional<Endpoint>& endpoint,
                         const std::filesystem::path& privateFolder,
                         const std::optional<std::filesystem::path>& worktree = std::nullopt,
                         const std::vector<std::filesystem::path>& writableFolders = {}) const;
    RunRecord refused(const Job& job, Instant now, std::string message, bool skip = false,
                      const Uuid& id = Uuid::random()) const;

    HarnessRegistry registry_;
    std::shared_ptr<RunHistory> history_;
    EndpointProbe probe_;
    RunExecutor executor_;
    CommandBuilder builder_;
    SecretStore secrets_;
    std::shared_ptr<LiveRuns> live_;
};

} // namespace marrowbell
