// marrowbellctl delete JOB: removes the job's file. Its past runs stay in the history.
#include "Command.h"
#include "JobArgument.h"
#include "SchedulerNotice.h"

#include <iostream>
#include <optional>

namespace marrowbell::ctl {
namespace {

int run(Arguments arguments) {
    if (arguments.size() != 1)
        return usage("delete needs exactly one JOB (a job's name or identifier)");
    std::optional<Job> found;
    try {
        found = resolveJob(storedJobs(), arguments[0]);
    } catch (const JobArgumentError& error) {
        return usage(error.what());
    }
    Job job = *found;
    JobStore(JobStore::defaultDirectory()).remove(job.id);
    std::cout << "Deleted \u201C" << job.name << "\u201D (" << job.id.text() << ").\n";
    printSchedulerNotice(std::cout);
    return success;
}

const Command command{"delete", "delete JOB", &run};

} // namespace
} // namespace marrowbell::ctl
