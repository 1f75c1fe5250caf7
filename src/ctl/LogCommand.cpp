#include "Command.h"
#include "JobArgument.h"
#include "SchedulerChannel.h"
#include "TerminalText.h"

#include "control/ControlProtocol.h"
#include "run/RunHistory.h"
#include "run/RunTranscript.h"
#include "run/TranscriptFolder.h"
#include "service/NameLookup.h"

#include <filesystem>
#include <iostream>

namespace marrowbell::ctl {

namespace {

// A run's whole transcript, read in pieces from the file; a last line its writer did
// not finish is left out.
int printTranscript(const std::filesystem::path& path, bool json) {
    TranscriptReader reader(path);
    if (!reader.isOpen()) {
        std::cerr << "marrowbellctl: no transcript of this run is kept.\n";
        return failure;
    }
    std::string out;
    while (reader.read(1 << 20, [&](OutputChannel channel, std::string_view text) {
        if (json) {
            ControlProtocol::appendOutputEvent(out, channel, text);
        } else {
            out.append(transcriptPrefix(channel));
            out.append(printable(text));
            out.push_back('\n');
        }
    })) {
        std::cout << out;
        out.clear();
    }
    std::cout << out << std::flush;
    return success;
}

int log(Arguments arguments) {
    std::vector<std::string> rest(arguments.begin(), arguments.end());
    bool json = takeFlag(rest, "--json");
    for (const std::string& argument : rest)
        if (argument.starts_with("--"))
            return unknownOption(argument);
    if (rest.size() != 1)
        return usage("log needs exactly one JOB or RUN-ID");
    TranscriptFolder folder(TranscriptFolder::defaultFolder());
    std::filesystem::path historyFile = RunHistory::defaultFileURL();
    std::vector<RunRecord> runs;
    if (std::filesystem::exists(historyFile))
        runs = RunHistory(historyFile).allRuns();

    // A run's identifier first (also of a run without a record, whose scheduler was
    // killed), then a job: its latest run that kept a transcript.
    if (std::optional<Uuid> id = Uuid::parse(rest[0])) {
        if (std::filesystem::exists(folder.path(*id)))
            return printTranscript(folder.path(*id), json);
        for (const RunRecord& run : runs)
            if (run.id == *id)
                return printTranscript(folder.path(run.id), json);
    }
    std::optional<Job> job;
    try {
        job = NameLookup::job(storedJobs(), rest[0]);
    } catch (const NameLookup::Error& error) {
        return usage(error.what());
    }
    for (const RunRecord& run : runs)
        if (run.jobID == job->id && std::filesystem::exists(folder.path(run.id)))
            return printTranscript(folder.path(run.id), json);
    std::cerr << "marrowbellctl: \"" << printable(job->name)
              << "\" has no run with a transcript.\n";
    return failure;
}

const Command command{"log",
                      Help{Group::history, "a run's whole transcript", "log JOB|RUN-ID [--json]",
                           "  --json                one event per line\n"
                           "With JOB, the job's latest run.",
                           "marrowbellctl log \"Nightly review\""},
                      &log};

} // namespace

} // namespace marrowbell::ctl
