#pragma once

#include "Command.h"
#include "job/Job.h"
#include "job/JobStore.h"

#include <functional>
#include <string>
#include <vector>

namespace marrowbell::ctl {

// The jobs of the support folder, earliest created first; none when its "Jobs" folder
// does not exist yet (nothing is created just to read). Files skipped are warned about.
std::vector<Job> storedJobs();

// For commands taking exactly one JOB: runs `action` with the stored job it names
// (NameLookup's rule), or answers a missing, unknown or ambiguous JOB with a usage error (exit
// status 2).
int withJobArgument(Arguments arguments, const char* command,
                    const std::function<int(Job)>& action);

} // namespace marrowbell::ctl
