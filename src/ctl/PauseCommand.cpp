// marrowbellctl pause JOB: the job stops running by schedule until it is resumed.
#include "Command.h"
#include "JobArgument.h"
#include "TerminalText.h"

#include <iostream>
#include <optional>

namespace marrowbell::ctl {
namespace {

int pauseJob(Job job) {
    if (job.isPaused) {
        std::cout << "\u201C" << printable(job.name) << "\u201D is already paused.\n";
        return success;
    }
    job.setPaused(true, Instant::now());
    JobStore(JobStore::defaultDirectory()).save(job);
    std::cout << "Paused \u201C" << printable(job.name) << "\u201D.\n";
    return success;
}

const Command command{"pause",
                      Help{Group::jobs, "stop a job's scheduled runs", "pause JOB", "",
                           "marrowbellctl pause \"Nightly review\""},

                      [](Arguments a) { return withJobArgument(a, "pause", &pauseJob); }};

} // namespace
} // namespace marrowbell::ctl
