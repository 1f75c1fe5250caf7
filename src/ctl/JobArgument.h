#pragma once

#include "Command.h"
#include "job/Job.h"
#include "job/JobStore.h"

#include <functional>

#include <stdexcept>
#include <string>
#include <vector>

namespace marrowbell::ctl {

// A JOB argument that names no job, or more than one; its text is the message for the
// user. Commands answer it with exit status 2.
struct JobArgumentError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The jobs of the support folder, earliest created first; none when its "Jobs" folder
// does not exist yet (nothing is created just to read). Files skipped are warned about.
std::vector<Job> storedJobs();

// The job a command-line argument means: the job with that identifier (any letter
// case), else the one job with exactly that name, else the one job whose name matches
// ignoring letter case. Throws JobArgumentError when no job matches or several do.
Job resolveJob(const std::vector<Job>& jobs, const std::string& argument);
Job resolveJob(const JobStore& store, const std::string& argument);

// For commands taking exactly one JOB: runs `action` with the stored job it names, or
// answers a missing, unknown or ambiguous JOB with a usage error (exit status 2).
int withJobArgument(Arguments arguments, const char* command,
                    const std::function<int(Job)>& action);

} // namespace marrowbell::ctl
