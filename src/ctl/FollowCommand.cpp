#include "Command.h"
#include "JobArgument.h"
#include "SchedulerChannel.h"
#include "TerminalText.h"

#include <iostream>

namespace marrowbell::ctl {

namespace {

// From the run's start (its transcript so far), then live until it ends. Ctrl-C leaves
// the run alone.
int follow(std::vector<std::string> arguments) {
    bool json = takeFlag(arguments, "--json");
    return withJobArgument(arguments, "follow", [json](Job job) {
        auto client = connectToScheduler();
        if (!client) {
            std::cerr << "marrowbellctl: " << noSchedulerMessage << "\n";
            return failure;
        }
        client->send({{"request", "follow"}, {"job", job.id.text()}});
        client->expect();
        Json message;
        ControlClient::Output output;
        // With --json every event is printed whole, so each is parsed; otherwise output
        // lines take the client's fast path.
        auto next = [&](std::chrono::milliseconds timeout) {
            return json ? client->read(message, timeout) : client->read(message, output, timeout);
        };
        for (;;) {
            ControlClient::Read read = next(std::chrono::milliseconds(0));
            if (read == ControlClient::Read::timedOut) {
                std::cout.flush();
                read = next(std::chrono::hours(24));
            }
            if (read == ControlClient::Read::output) {
                printOutput(output.channel, output.text);
                continue;
            }
            if (read != ControlClient::Read::message) {
                std::cout.flush();
                if (read == ControlClient::Read::timedOut)
                    continue;
                std::cerr << "marrowbellctl: the scheduler went away during the run.\n";
                return failure;
            }
            std::string event = message.value("event", "");
            if (event == "output") {
                printOutput(message, json);
            } else if (event == "dropped") {
                if (json)
                    printOutput(message, true);
                else
                    std::cerr << "marrowbellctl: " << message.value("lines", 0)
                              << " lines of output were dropped (read too slowly).\n";
            } else if (event == "runFinished") {
                if (json)
                    printOutput(message, true);
                std::cout.flush();
                std::optional<RunRecord> record = finishedRecord(message);
                if (record && !json)
                    std::cerr << printable(job.name) << ": " << record->outcomeSummary() << " — "
                              << printable(record->summary()) << "\n";
                return record && record->succeeded() ? success : failure;
            }
        }
    });
}

const Command command{
    "follow",
    Help{Group::running, "print the output of a job's run in flight, live", "follow JOB [--json]",
         "  --json                one event per line", "marrowbellctl follow \"Nightly review\""},
    [](Arguments a) { return follow(std::vector<std::string>(a.begin(), a.end())); }};

} // namespace

} // namespace marrowbell::ctl
