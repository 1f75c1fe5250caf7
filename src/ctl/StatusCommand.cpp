#include "Command.h"
#include "IsoTime.h"
#include "SchedulerChannel.h"
#include "TerminalText.h"

#include "run/DurationText.h"

#include <iostream>

namespace marrowbell::ctl {

namespace {

// `status` exits 3 when no scheduler runs, as `systemctl is-active` does.
constexpr int notRunning = 3;

std::string when(const Json& value) {
    return value.is_number() ? isoLocal(Instant{value.get<double>()}, TimeZone::system())
                             : std::string("unknown");
}

int status(Arguments arguments) {
    std::vector<std::string> rest(arguments.begin(), arguments.end());
    bool json = takeFlag(rest, "--json");
    if (!rest.empty() && rest[0].starts_with("-"))
        return unknownOption(rest[0]);
    if (!rest.empty())
        return usage("status takes no arguments but --json");
    auto client = connectToScheduler();
    if (!client) {
        if (json)
            std::cout << Json{{"running", false}}.dump() << "\n";
        else
            std::cout << noSchedulerMessage << "\n";
        return notRunning;
    }
    client->send({{"request", "status"}});
    Json reply = client->expect();
    if (json) {
        reply.erase("version");
        reply.erase("reply");
        reply["running"] = true;
        std::cout << reply.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
        return success;
    }
    std::cout << "Scheduler: process " << reply.value("pid", 0) << " ("
              << printable(reply.value("kind", "")) << "), running since "
              << when(reply.value("since", Json())) << "\n";
    if (reply.contains("nextWakeUp"))
        std::cout << "Next wake-up: " << when(reply["nextWakeUp"]) << "\n";
    const Json runs = reply.value("runs", Json::array());
    if (runs.empty()) {
        std::cout << "No runs in flight.\n";
        return success;
    }
    std::cout << "Runs in flight:\n";
    for (const Json& run : runs) {
        std::cout << "  " << printable(run.value("jobName", "")) << "  started "
                  << when(run.value("startedAt", Json())) << ", "
                  << readable(run.value("elapsed", 0.0));
        if (run.contains("pid"))
            std::cout << ", harness process " << run.value("pid", 0);
        std::cout << "\n    run " << printable(run.value("run", "")) << "\n";
    }
    return success;
}

const Command command{"status",
                      Help{Group::running, "whether a scheduler runs, and its runs in flight",
                           "status [--json]",
                           "  --json                as JSON\n"
                           "Exits 3 when no scheduler runs.",
                           "marrowbellctl status"},
                      &status};

} // namespace

} // namespace marrowbell::ctl
