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
#include <optional>

namespace marrowbell::ctl {
namespace {

int run(Arguments arguments) {
    bool asJson = false;
    std::optional<bool> paused; // none: every job
    for (const std::string& argument : arguments) {
        if (argument == "--json")
            asJson = true;
        else if ((argument == "--paused" || argument == "--active") && !paused)
            paused = argument == "--paused";
        else if (argument == "--paused" || argument == "--active")
            return usage("jobs takes one of --paused and --active");
        else if (argument.starts_with("-"))
            return unknownOption(argument);
        else
            return usage("jobs: unexpected argument \u201C" + printable(argument) + "\u201D");
    }
    // Listing must not create the support folder; no folder simply means no jobs.
    std::vector<Job> jobs = storedJobs();
    if (paused)
        std::erase_if(jobs, [&](const Job& job) { return job.isPaused != *paused; });

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
        std::cout << (!paused ? "No jobs.\n" : *paused ? "No paused jobs.\n" : "No active jobs.\n");
    return std::cout.flush() ? success : failure;
}

const Command command{"jobs",
                      Help{Group::jobs, "list the jobs with their schedules and next runs",
                           "jobs [--paused | --active] [--json]",
                           "  --paused              only the paused jobs\n"
                           "  --active              only the jobs that are not paused\n"
                           "  --json                as JSON",
                           "marrowbellctl jobs --paused"},
                      &run};

} // namespace
} // namespace marrowbell::ctl
