#include "Command.h"
#include "JobArgument.h"
#include "LoadProblems.h"
#include "SchedulerChannel.h"
#include "StopSignals.h"
#include "TerminalText.h"
#include "control/ControlProtocol.h"
#include "run/RunTranscript.h"
#include "service/CoreServices.h"

#include <chrono>
#include <iostream>
#include <mutex>
#include <thread>

namespace marrowbell::ctl {

namespace {

void printOutcome(const Job& job, const RunRecord& record) {
    std::cerr << printable(job.name) << ": " << record.outcomeSummary() << " — "
              << printable(record.summary()) << "\n";
}

// Reads the control channel's messages until `done` says the last one came, flushing
// the terminal whenever no message is waiting. Ctrl-C calls `onStop` once.
// Without `json`, output lines are printed as they come, off the client's fast path.
template <class OnMessage, class OnStop>
bool readMessages(ControlClient& client, bool json, StopSignals* signals, OnMessage onMessage,
                  OnStop onStop) {
    bool stopped = false;
    Json message;
    ControlClient::Output output;
    auto next = [&](std::chrono::milliseconds timeout) {
        return json ? client.read(message, timeout) : client.read(message, output, timeout);
    };
    for (;;) {
        ControlClient::Read read = next(std::chrono::milliseconds(0));
        if (read == ControlClient::Read::timedOut) {
            std::cout.flush();
            read = next(std::chrono::milliseconds(100));
        }
        if (read == ControlClient::Read::closed)
            return false;
        if (read == ControlClient::Read::output)
            printOutput(output.channel, output.text);
        if (read == ControlClient::Read::message && onMessage(message))
            return true;
        if (signals && !stopped && signals->wait(std::chrono::milliseconds(0))) {
            stopped = true;
            onStop();
        }
    }
}

// Through the running scheduler: it runs the job and records it; this process shows
// the output and asks for a cancel on Ctrl-C.
int runThrough(ControlClient& client, const Job& job, bool json, StopSignals& signals) {
    client.send({{"request", "run"}, {"job", job.id.text()}, {"stream", true}});
    client.expect();
    std::optional<RunRecord> record;
    bool finished = readMessages(
        client, json, &signals,
        [&](const Json& message) {
            std::string event = message.value("event", "");
            if (event == "output") {
                printOutput(message, json);
            } else if (event == "dropped") {
                std::cerr << "marrowbellctl: " << message.value("lines", 0)
                          << " lines of output were dropped (the terminal read too slowly).\n";
            } else if (event == "runFinished") {
                record = finishedRecord(message);
                if (json)
                    printOutput(message, true);
                return true;
            }
            return false;
        },
        [&] {
            client.send({{"request", "cancel"}});
        });
    std::cout.flush();
    if (!finished || !record) {
        std::cerr << "marrowbellctl: the scheduler went away during the run.\n";
        return failure;
    }
    printOutcome(job, *record);
    return record->succeeded() ? success : failure;
}

// In this process: it holds the scheduler lock for the run, serving the control channel
// meanwhile so that other terminals see the run.
int runHere(const Job& job, bool json, StopSignals& signals) {
    CoreServices core;
    warnAbout(core);
    auto control = serveControl(core, "run");

    auto output = std::make_shared<std::mutex>();
    std::future<RunRecord> future =
        core.scheduler()->runNow(job, [output, json](std::string_view line) {
            std::lock_guard lock(*output);
            if (json) {
                std::string event;
                auto [channel, text] = TranscriptReader::classify(line);
                ControlProtocol::appendOutputEvent(event, channel, text);
                std::cout << event << std::flush;
            } else {
                std::cout << printable(line) << std::endl;
            }
        });
    bool cancelled = false;
    while (future.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        if (signals.wait(std::chrono::milliseconds(100)) && !cancelled) {
            cancelled = true;
            core.scheduler()->cancel(job.id);
        }
    }
    RunRecord record = future.get();
    // Runs other terminals started through this process finish before it lets go of
    // the scheduler lock; Ctrl-C cancels them.
    while (!core.scheduler()->waitUntilIdle(std::chrono::milliseconds(100)))
        if (signals.wait(std::chrono::milliseconds(0)))
            core.scheduler()->cancelAll();
    core.history()->flush();
    if (control)
        control->stop();
    printOutcome(job, record);
    if (auto problem = core.history()->writeFailure()) {
        std::cerr << "marrowbellctl: " << *problem << "\n";
        return failure;
    }
    return record.succeeded() ? success : failure;
}

int runJob(std::vector<std::string> arguments) {
    bool json = takeFlag(arguments, "--json");
    return withJobArgument(arguments, "run", [json](Job job) {
        StopSignals signals; // before any thread exists
        if (auto client = connectToScheduler())
            return runThrough(*client, job, json, signals);
        try {
            return runHere(job, json, signals);
        } catch (const SchedulerLockError&) {
            // Another scheduler took the lock in the meantime: it answers shortly.
            for (int attempt = 0; attempt < 50; ++attempt) {
                if (auto client = connectToScheduler())
                    return runThrough(*client, job, json, signals);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            throw;
        }
    });
}

const Command command{
    "run",
    Help{Group::running, "run a job now and print its output", "run JOB [--json]",
         "  --json                the control channel's events, one per line\n"
         "Exits 0 when the run succeeded, 1 otherwise; Ctrl-C cancels the run.",
         "marrowbellctl run \"Nightly review\""},
    [](Arguments a) { return runJob(std::vector<std::string>(a.begin(), a.end())); }};

} // namespace

} // namespace marrowbell::ctl
