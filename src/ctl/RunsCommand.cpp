#include "Command.h"
#include "IsoTime.h"
#include "JobArgument.h"
#include "LoadProblems.h"
#include "Options.h"
#include "TerminalText.h"

#include "run/RunHistory.h"
#include "service/NameLookup.h"

#include <charconv>
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
            std::cout << (name != names.end() ? ctl::printable(name->second, false)
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

// Which runs to show, newest first.
struct RunFilter {
    std::optional<std::size_t> limit;
    bool failedOnly = false;
    std::optional<Instant> since;

    bool active() const { return limit || failedOnly || since; }

    void apply(std::vector<RunRecord>& runs) const {
        std::erase_if(runs, [&](const RunRecord& run) {
            return (failedOnly && run.succeeded()) || (since && run.startedAt < *since);
        });
        if (limit && runs.size() > *limit)
            runs.resize(*limit);
    }
};

int runs(Arguments arguments) {
    std::optional<Options> options;
    try {
        options = Options::parse(arguments, {{"limit", "since"}, {"json", "failed"}, {}}, "runs");
    } catch (const UnknownOption& option) {
        return unknownOption(option.what());
    } catch (const BadArgument& error) {
        return usage(error.what());
    }
    if (options->operands.size() > 1)
        return usage("runs takes at most one JOB");
    const bool json = options->has("json");
    const std::optional<std::string> jobArgument =
        options->operands.empty() ? std::nullopt : std::optional(options->operands[0]);
    RunFilter filter;
    filter.failedOnly = options->has("failed");
    if (auto text = options->value("limit")) {
        std::size_t limit = 0;
        const char* end = text->data() + text->size();
        auto [stop, error] = std::from_chars(text->data(), end, limit);
        if (error != std::errc() || stop != end || limit == 0)
            return usage("runs: --limit takes a whole number from 1, not \u201C" +
                         printable(*text) + "\u201D");
        filter.limit = limit;
    }
    if (auto text = options->value("since")) {
        filter.since = parseInstant(*text);
        if (!filter.since)
            return usage("runs: --since takes an ISO-8601 time with Z or an offset "
                         "(2026-12-01T09:00:00Z) or @ and Unix seconds, not \u201C" +
                         printable(*text) + "\u201D");
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
    filter.apply(records);
    if (json) {
        jsonOutput() << json::pretty(asJson(records, names));
    } else if (records.empty() && filter.active()) {
        std::cout << "No runs match.\n";
    } else if (records.empty()) {
        std::cout << (job ? "No runs of \"" + ctl::printable(job->name, false) + "\" yet.\n"
                          : "No runs yet.\n");
    } else {
        printText(records, names, !job);
    }
    std::cout.flush();
    return std::cout ? success : failure;
}

const Command command{
    "runs",
    Help{Group::history, "the run history, newest first",
         "runs [JOB] [--limit N] [--failed] [--since INSTANT] [--json]",
         "  --limit N             at most N runs\n"
         "  --failed              only the runs that did not succeed\n"
         "  --since INSTANT       only runs started at or after INSTANT: ISO-8601 with Z or an\n"
         "                        offset, or @UNIX-SECONDS\n"
         "  --json                as JSON",
         "marrowbellctl runs \"Nightly review\" --failed --since 2026-12-01T00:00:00Z"},
    &runs};

} // namespace

} // namespace marrowbell::ctl
