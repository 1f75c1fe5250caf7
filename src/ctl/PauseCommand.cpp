// marrowbellctl pause JOB: the job stops running by schedule until it is resumed.
#include "Command.h"
#include "JobArgument.h"
#include "SchedulerNotice.h"

#include <iostream>
#include <optional>

namespace marrowbell::ctl {
namespace {

int run(Arguments arguments) {
    if (arguments.size() != 1)
        return usage("pause needs exactly one JOB (a job's name or identifier)");
    std::optional<Job> found;
    try {
        found = resolveJob(storedJobs(), arguments[0]);
    } catch (const JobArgumentError& error) {
        return usage(error.what());
    }
    Job job = *found;
    if (job.isPaused) {
        std::cout << "\u201C" << job.name << "\u201D is already paused.\n";
        return success;
    }
    job.setPaused(true, Instant::now());
    JobStore(JobStore::defaultDirectory()).save(job);
    std::cout << "Paused \u201C" << job.name << "\u201D.\n";
    printSchedulerNotice(std::cout);
    return success;
}

const Command command{"pause", "pause JOB", &run};

} // namespace
} // namespace marrowbell::ctl
