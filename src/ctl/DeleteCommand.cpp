// marrowbellctl delete JOB: removes the job's file. Its past runs stay in the history.
#include "Command.h"
#include "JobArgument.h"
#include "TerminalText.h"

#include <iostream>
#include <optional>

namespace marrowbell::ctl {
namespace {

int deleteJob(Job job) {
    JobStore(JobStore::defaultDirectory()).remove(job.id);
    std::cout << "Deleted \u201C" << printable(job.name) << "\u201D (" << job.id.text() << ").\n";
    return success;
}

const Command command{"delete",
                      Help{Group::jobs, "delete a job; its past runs stay in the history",
                           "delete JOB", "", "marrowbellctl delete \"Nightly review\""},

                      [](Arguments a) { return withJobArgument(a, "delete", &deleteJob); }};

} // namespace
} // namespace marrowbell::ctl
