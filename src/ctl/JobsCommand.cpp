// marrowbellctl jobs: every job of the store with its schedule in words, its
// permission and its next run.
#include "Command.h"
#include "IsoTime.h"
#include "JobArgument.h"
#include "TerminalText.h"

#include "base/Json.h"
#include "job/JobStore.h"

#include <filesystem>
#include <iostream>

namespace marrowbell::ctl {
namespace {

int run(Arguments arguments) {
    bool asJson = false;
    for (const std::string& argument : arguments) {
        if (argument == "--json")
            asJson = true;
        else
            return usage("unknown argument \"" + argument + "\"");
    }
    // Listing must not create the support folder; no folder simply means no jobs.
    const std::vector<Job> jobs = storedJobs();

    const Instant now = Instant::now();
    Json list = Json::array();
    for (const Job& job : jobs) {
        const TimeZone zone = job.timeZone();
        const auto next = job.nextRun(now);
        if (asJson) {
            Json entry = {{"id", job.id.text()},
                          {"name", job.name},
                          {"schedule", job.schedule.text()},
                          {"plainEnglish", job.schedule.plainEnglish()},
                          {"timeZone", zone.identifier()},
                          {"permission", rawValue(job.permission)},
                          {"permissionTitle", job.permissionTitle()},
                          {"isPaused", job.isPaused},
                          {"nextRun", next ? Json(isoLocal(*next, zone)) : Json(nullptr)}};
            list.push_back(entry);
            continue;
        }
        std::cout << printable(job.name) << "\n"
                  << "  Schedule:   " << job.schedule.plainEnglish() << " (" << zone.identifier()
                  << ")\n"
                  << "  Permission: " << job.permissionTitle() << "\n"
                  << "  Next run:   "
                  << (job.isPaused ? std::string("paused")
                      : next       ? isoLocal(*next, zone)
                                   : std::string("never"))
                  << "\n";
    }
    if (asJson)
        jsonOutput() << json::pretty(list);
    else if (jobs.empty())
        std::cout << "No jobs.\n";
    return std::cout.flush() ? success : failure;
}

const Command command{"jobs", "jobs [--json]", &run};

} // namespace
} // namespace marrowbell::ctl
