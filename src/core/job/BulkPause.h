#pragma once

#include "base/Instant.h"
#include "job/Job.h"

#include <string_view>
#include <vector>

namespace marrowbell {

// The single action offered for a whole list of jobs ("Pause all" / "Resume all").
enum class BulkPause { pauseAll, resumeAll, nothingToDo };

// nothingToDo for no jobs, resumeAll when every job is paused, else pauseAll.
BulkPause bulkPauseAction(const std::vector<Job>& jobs);
// "Resume all" for resumeAll, "Pause all" otherwise.
std::string_view title(BulkPause action);
// False only for nothingToDo (the control is shown disabled).
bool isAvailable(BulkPause action);
// The jobs the action alters, already altered, in input order; the caller saves them.
// Resuming stamps `resumedAt` with `now`; pausing leaves it.
std::vector<Job> changes(BulkPause action, const std::vector<Job>& jobs, Instant now);

} // namespace marrowbell
