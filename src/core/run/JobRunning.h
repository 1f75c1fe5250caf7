#pragma once

#include "base/Instant.h"
#include "endpoint/Endpoint.h"
#include "job/Job.h"
#include "job/RunLimits.h"
#include "run/RunProcess.h"
#include "run/RunRecord.h"

#include <functional>
#include <optional>
#include <stop_token>
#include <string_view>

namespace marrowbell {

// Runs one job end to end and stores its record: what the scheduler needs of the job
// runner (JobRunner in production, a stand-in in the scheduler's tests).
class JobRunning {
public:
    using LineHandler = std::function<void(std::string_view line)>;
    using ProcessHandler = std::function<void(const RunProcess& process)>;

    virtual ~JobRunning() = default;

    // Never fails: every refusal or failure is a record, already handed to the history
    // when this returns. `now` becomes the record's `startedAt`. A stop requested on
    // `stopToken` stops the harness and yields a record with `wasCancelled` set.
    // `onStarted` learns the harness's processes as soon as they run (not at all for a
    // run refused before it started anything).
    virtual RunRecord run(const Job& job, const std::optional<Endpoint>& endpoint,
                          const RunLimits& defaults, Instant now, LineHandler onOutputLine,
                          std::stop_token stopToken, ProcessHandler onStarted = {}) const = 0;
};

} // namespace marrowbell
