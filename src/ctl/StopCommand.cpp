#include "Command.h"
#include "JobArgument.h"
#include "SchedulerChannel.h"
#include "TerminalText.h"

#include <iostream>

namespace marrowbell::ctl {

namespace {

int stopJob(Job job) {
    auto client = connectToScheduler();
    if (!client) {
        std::cerr << "marrowbellctl: " << noSchedulerMessage << "\n";
        return failure;
    }
    client->send({{"request", "stop"}, {"job", job.id.text()}});
    Json reply = client->expect();
    if (!reply.value("wasRunning", false)) {
        std::cerr << "marrowbellctl: \"" << printable(job.name) << "\" is not running.\n";
        return failure;
    }
    std::cout << "Stopping \"" << printable(job.name) << "\"; its run is recorded as cancelled.\n";
    return success;
}

const Command command{"stop",
                      Help{Group::running, "cancel a job's runs in flight", "stop JOB", "",
                           "marrowbellctl stop \"Nightly review\""},

                      [](Arguments a) { return withJobArgument(a, "stop", &stopJob); }};

} // namespace

} // namespace marrowbell::ctl
