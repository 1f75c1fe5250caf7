// marrowbellctl resume JOB: a paused job runs by schedule again, from now on; the
// runs it missed while paused are not owed to it.
#include "Command.h"
#include "IsoTime.h"
#include "JobArgument.h"
#include "TerminalText.h"

#include <iostream>
#include <optional>

namespace marrowbell::ctl {
namespace {

int resumeJob(Job job) {
    if (!job.isPaused) {
        // Left as it is: resuming would also move its resume time and so drop a run
        // it may still be owed.
        std::cout << "\u201C" << printable(job.name) << "\u201D is not paused.\n";
        return success;
    }
    const Instant now = Instant::now();
    job.setPaused(false, now);
    JobStore(JobStore::defaultDirectory()).save(job);
    std::cout << "Resumed \u201C" << printable(job.name) << "\u201D.";
    if (const auto next = job.nextRun(now))
        std::cout << " Next run: " << isoLocal(*next, job.timeZone()) << ".";
    std::cout << "\n";
    return success;
}

const Command command{"resume",
                      Help{Group::jobs,
                           "restart a job's scheduled runs; runs missed while paused are not owed",
                           "resume JOB", "", "marrowbellctl resume \"Nightly review\""},

                      [](Arguments a) { return withJobArgument(a, "resume", &resumeJob); }};

} // namespace
} // namespace marrowbell::ctl
