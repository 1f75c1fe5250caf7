// marrowbellctl upcoming: the runs the schedules promise for the next 24 hours, as the
// desktop panel's timeline shows them.
#include "Command.h"
#include "IsoTime.h"
#include "JobArgument.h"
#include "TerminalText.h"

#include "base/Json.h"
#include "job/ScheduleTimeline.h"

#include <iostream>

namespace marrowbell::ctl {
namespace {

constexpr double windowHours = 24;
constexpr std::int64_t marksPerJob = 48;

int run(Arguments arguments) {
    bool asJson = false;
    for (const std::string& argument : arguments) {
        if (argument == "--json")
            asJson = true;
        else if (argument.starts_with("-"))
            return unknownOption(argument);
        else
            return usage("upcoming takes no arguments but --json");
    }
    const ScheduleTimeline timeline =
        ScheduleTimeline::upcoming(storedJobs(), Instant::now(), windowHours, marksPerJob);
    // Dates are shown in the user's zone, whatever zone each job is read in.
    const TimeZone zone = TimeZone::system();
    if (asJson) {
        Json marks = Json::array();
        for (const auto& mark : timeline.marks)
            marks.push_back({{"jobID", mark.jobID.text()},
                             {"jobName", mark.jobName},
                             {"date", isoLocal(mark.date, zone)}});
        jsonOutput() << json::pretty(Json{{"summary", timeline.summary()}, {"marks", marks}});
    } else {
        std::cout << timeline.summary() << "\n";
        for (const auto& mark : timeline.marks)
            std::cout << isoLocal(mark.date, zone) << "  " << printable(mark.jobName) << "\n";
    }
    return std::cout.flush() ? success : failure;
}

const Command command{"upcoming",
                      Help{Group::jobs, "the runs the schedules promise for the next 24 hours",
                           "upcoming [--json]", "  --json                as JSON",
                           "marrowbellctl upcoming"},
                      &run};

} // namespace
} // namespace marrowbell::ctl
