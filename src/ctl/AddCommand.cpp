// marrowbellctl add: creates a job from the command line, checked as a job draft like
// the desktop editor's, so that a headless user never writes a job file by hand.
#include "Command.h"
#include "IsoTime.h"
#include "JobArgument.h"
#include "TerminalText.h"

#include "harness/HarnessRegistry.h"
#include "service/JobDraft.h"
#include "settings/EndpointStore.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <unistd.h>

namespace marrowbell::ctl {
namespace {

namespace fs = std::filesystem;

// A bad argument; its text is the message. Nothing has been written when it is thrown.
struct BadArgument : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string inQuotes(std::string_view text) {
    return "\u201C" + std::string(text) + "\u201D";
}

struct Options {
    std::optional<std::string> name;
    std::map<std::string, std::string> values; // by option name, without "--"
    std::vector<std::string> skills;
};

const std::set<std::string> valueOptions{"folder",   "harness", "schedule", "permission", "model",
                                         "endpoint", "timeout", "offline",  "prompt-file"};

Options parseArguments(Arguments arguments) {
    Options options;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            if (options.name)
                throw BadArgument("add takes one NAME; unexpected " + inQuotes(argument) +
                                  " (quote a name with spaces)");
            options.name = argument;
            continue;
        }
        if (!argument.starts_with("--"))
            throw BadArgument("add: unknown option " + inQuotes(argument));
        std::string key = argument.substr(2);
        std::optional<std::string> value;
        if (auto equals = key.find('='); equals != std::string::npos) {
            value = key.substr(equals + 1);
            key.erase(equals);
        }
        if (key != "skill" && !valueOptions.contains(key))
            throw BadArgument("add: unknown option " + inQuotes(argument));
        if (!value) {
            if (i + 1 == arguments.size())
                throw BadArgument("add: --" + key + " needs a value");
            value = arguments[++i];
        }
        if (key == "skill") {
            options.skills.push_back(*value);
        } else if (!options.values.emplace(key, *value).second) {
            throw BadArgument("add: --" + key + " is given more than once");
        }
    }
    if (!options.name)
        throw BadArgument("add needs a NAME");
    for (const char* required : {"folder", "harness", "schedule"})
        if (!options.values.contains(required))
            throw BadArgument(std::string("add needs --") + required);
    return options;
}

std::optional<std::string> value(const Options& options, const std::string& key) {
    auto found = options.values.find(key);
    return found == options.values.end() ? std::nullopt : std::optional(found->second);
}

PermissionLevel permission(const std::string& text) {
    if (const auto level = permissionLevelFromRaw(text))
        return *level;
    throw BadArgument("--permission takes readOnly, scopedWrite or fullAccess, not " +
                      inQuotes(text));
}

OfflinePolicy offlinePolicy(const std::string& text) {
    if (text == "skip")
        return OfflinePolicy::skipAndNotify;
    if (text == "fail")
        return OfflinePolicy::failAndNotify;
    if (const auto policy = offlinePolicyFromRaw(text))
        return *policy;
    throw BadArgument("--offline takes skip or fail, not " + inQuotes(text));
}

// The number only; its range is the draft's to check.
Seconds timeout(const std::string& text) {
    double seconds = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seconds);
    if (error != std::errc() || stop != end)
        throw BadArgument("--timeout takes a number of seconds, such as 900, not " +
                          inQuotes(text));
    return seconds;
}

std::string prompt(const std::optional<std::string>& file) {
    std::string text;
    if (file && *file != "-") {
        std::ifstream in(*file, std::ios::binary);
        if (!in || fs::is_directory(*file))
            throw BadArgument("cannot read the prompt file " + *file);
        text.assign(std::istreambuf_iterator<char>(in), {});
        if (in.bad())
            throw BadArgument("cannot read the prompt file " + *file);
    } else {
        if (::isatty(STDIN_FILENO))
            std::cerr << "Type the prompt, then press Ctrl-D on an empty line:\n";
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
    }
    // The line end a file or a terminal leaves after the last line is not part of it.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

JobDraft draft(const Options& options) {
    for (const std::string& skill : options.skills)
        if (skill.empty())
            throw BadArgument("--skill is empty");
    JobDraft draft;
    draft.name = *options.name;
    draft.folder = options.values.at("folder");
    draft.schedule = options.values.at("schedule");
    draft.harnessID = options.values.at("harness");
    draft.endpoint = value(options, "endpoint");
    draft.model = value(options, "model");
    draft.skills = options.skills;
    if (const auto level = value(options, "permission"))
        draft.permission = permission(*level);
    if (const auto policy = value(options, "offline"))
        draft.offlinePolicy = offlinePolicy(*policy);
    if (const auto text = value(options, "timeout"))
        draft.timeLimit = timeout(*text);
    return draft;
}

// The folders a run would look in, with the caller's PATH standing in for the login
// shell's (which is not asked here: that can take seconds).
std::vector<std::string> searchPaths(const HarnessRegistry& registry) {
    std::vector<std::string> folders = registry.expandedSearchPaths();
    if (const char* path = std::getenv("PATH")) {
        std::string_view rest = path;
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            if (colon != 0)
                folders.emplace_back(rest.substr(0, colon));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    return folders;
}

std::vector<Endpoint> storedEndpoints() {
    // Reading only: the store would create the support folder.
    const fs::path file = EndpointStore::defaultFileURL();
    return fs::exists(file) ? EndpointStore(file).endpoints() : std::vector<Endpoint>{};
}

void printProblems(const std::vector<JobDraft::Problem>& problems, bool blocking) {
    for (const JobDraft::Problem& problem : problems)
        if (problem.blocking == blocking)
            std::cerr << "marrowbellctl: " << (blocking ? "" : "note: ") << problem.message
                      << (problem.field == JobDraft::Field::prompt && blocking
                              ? "; give it with --prompt-file FILE or on standard input"
                              : "")
                      << "\n";
}

int run(Arguments arguments) {
    std::optional<Options> options;
    std::optional<JobDraft> made;
    std::optional<HarnessRegistry> registry;
    try {
        options = parseArguments(arguments);
        made = draft(*options);
        registry = HarnessRegistry::bundled();
    } catch (const BadArgument& error) {
        return usage(error.what());
    }
    JobDraft::Context context{*registry, storedEndpoints(), storedJobs(), searchPaths(*registry)};
    // Every other field is checked before the prompt is read from standard input, and
    // nothing is written before the whole draft passes.
    JobDraft::Checked checked = made->check(context, Instant::now());
    if (!checked.blocked()) {
        try {
            made->prompt = prompt(value(*options, "prompt-file"));
        } catch (const BadArgument& error) {
            return usage(error.what());
        }
        checked = made->check(context, Instant::now());
    }
    if (checked.blocked()) {
        printProblems(checked.problems, true);
        return usageError;
    }
    const Job& job = *checked.job;
    JobStore(JobStore::defaultDirectory()).save(job);

    const TimeZone zone = job.timeZone();
    const auto next = job.nextRun(Instant::now());
    std::cout << "Added \u201C" << printable(job.name) << "\u201D (" << job.id.text() << ").\n"
              << "  Schedule:   " << job.schedule.plainEnglish() << " (" << zone.identifier()
              << ")\n"
              << "  Harness:    " << registry->spec(job.harnessID).displayName << "\n"
              << "  Permission: " << job.permissionTitle() << "\n"
              << "  Next run:   " << (next ? isoLocal(*next, zone) : std::string("never")) << "\n";
    printProblems(checked.problems, false);
    return success;
}

const Command command{
    "add",
    "add NAME --folder DIR --harness ID --schedule CRON [--permission LEVEL] [--model M] "
    "[--endpoint ENDPOINT] [--skill S]... [--timeout SECONDS] [--offline skip|fail] "
    "[--prompt-file F | prompt on standard input]",
    &run};

} // namespace
} // namespace marrowbell::ctl
