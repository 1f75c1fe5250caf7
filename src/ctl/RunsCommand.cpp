#include "Command.h"
#include "JobArgument.h"
#include "LoadProblems.h"
#include "TerminalText.h"

#include "run/RunHistory.h"
#include "service/NameLookup.h"

#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <unordered_map>

namespace marrowbell::ctl {

namespace {

// The history as the application left it; an empty one when there is no file yet, so
// that reading never creates the support folder.
std::vector<RunRecord> storedRuns(const std::optional<Job>& job) {
    std::filesystem::path file = RunHistory::defaultFileURL();
    if (!std::filesystem::exists(file))
        return {};
    RunHistory history(file);
    warnAbout(history.loadProblems());
    return job ? history.runs(job->id) : history.allRuns();
}

std::string localTime(Instant instant) {
    double unix = instant.unixSeconds();
    if (!(unix > -6.0e10 && unix < 6.0e10))
        return "unknown time";
    std::time_t seconds = static_cast<std::time_t>(unix);
    std::tm fields{};
    char text[32] = "";
    if (!::localtime_r(&seconds, &fields) ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &fields) == 0)
        return "unknown time";
    return text;
}

// Summaries may span lines; they keep their line breaks.
std::string printable(const std::string& text) {
    return ctl::printable(text, true);
}

void printText(const std::vector<RunRecord>& runs,
               const std::unordered_map<Uuid, std::string>& names, bool showJob) {
    for (const RunRecord& run : runs) {
        std::cout << localTime(run.startedAt) << "  ";
        if (showJob) {
            auto name = names.find(run.jobID);
            std::cout << (name != names.end() ? printable(name->second)
                                              : "deleted job " + run.jobID.text())
                      << "  ";
        }
        std::cout << run.outcomeSummary() << "\n";
        std::string summary = printable(run.summary());
        summary.erase(summary.find_last_not_of(" \t\n") + 1); // npos + 1 == 0: all blank
        std::size_t start = 0;
        while (start <= summary.size()) {
            std::size_t end = summary.find('\n', start);
            if (end == std::string::npos)
                end = summary.size();
            std::cout << "    " << summary.substr(start, end - start) << "\n";
            start = end + 1;
        }
    }
}

Json asJson(const std::vector<RunRecord>& runs,
            const std::unordered_map<Uuid, std::string>& names) {
    Json array = Json::array();
    for (const RunRecord& run : runs) {
        Json o = run.toJson();
        o["outcomeSummary"] = run.outcomeSummary();
        o["summary"] = run.summary();
        o["succeeded"] = run.succeeded();
        if (auto name = names.find(run.jobID); name != names.end())
            o["jobName"] = name->second;
        array.push_back(std::move(o));
    }
    return array;
}

int runs(Arguments arguments) {
    bool json = false, optionsEnded = false;
    std::optional<std::string> jobArgument;
    for (const std::string& argument : arguments) {
        if (!optionsEnded && argument == "--json") {
            json = true;
        } else if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            return usage("unknown option \"" + argument + "\" for runs");
        } else if (jobArgument) {
            return usage("runs takes at most one JOB");
        } else {
            jobArgument = argument;
        }
    }

    std::vector<Job> jobs = storedJobs();
    std::optional<Job> job;
    if (jobArgument) {
        try {
            job = NameLookup::job(jobs, *jobArgument);
        } catch (const NameLookup::Error& error) {
            return usage(error.what());
        }
    }
    std::unordered_map<Uuid, std::string> names;
    for (const Job& j : jobs)
        names.emplace(j.id, j.name);

    std::vector<RunRecord> records = storedRuns(job);
    if (json) {
        jsonOutput() << json::pretty(asJson(records, names));
    } else if (records.empty()) {
        std::cout << (job ? "No runs of \"" + printable(job->name) + "\" yet.\n"
                          : "No runs yet.\n");
    } else {
        printText(records, names, !job);
    }
    std::cout.flush();
    return std::cout ? success : failure;
}

const Command command{"runs", "runs [JOB] [--json]", &runs};

} // namespace

} // namespace marrowbell::ctl
