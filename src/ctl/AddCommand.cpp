// marrowbellctl add: creates a job from the command line, checked as the desktop job
// editor checks one, so that a headless user never writes a job file by hand.
#include "Command.h"
#include "IsoTime.h"
#include "JobArgument.h"
#include "SchedulerNotice.h"
#include "TerminalText.h"

#include "harness/CommandBuilder.h"
#include "harness/HarnessRegistry.h"
#include "run/Utf8.h"
#include "settings/EndpointStore.h"

#include <algorithm>
#include <charconv>
#include <cmath>
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

CronExpression schedule(const std::string& text) {
    try {
        return CronExpression(text);
    } catch (const CronError& error) {
        throw BadArgument("the schedule " + inQuotes(text) + " is not valid: " + error.what());
    }
}

// The folder as an absolute, lexically normal path; symbolic links are kept as named.
FileUrl folder(const std::string& text) {
    if (text.empty())
        throw BadArgument("--folder is empty");
    fs::path path = text;
    // A "~" the shell did not expand, as in --folder=~/project.
    if (const char* home = std::getenv("HOME");
        home && *home && (text == "~" || text.starts_with("~/")))
        path = fs::path(home) / text.substr(std::min<std::size_t>(text.size(), 2));
    path = fs::absolute(path).lexically_normal();
    if (!path.has_filename() && path != path.root_path())
        path = path.parent_path();
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) {
        if (error && error != std::errc::no_such_file_or_directory &&
            error != std::errc::not_a_directory)
            throw BadArgument("cannot reach the folder " + path.string() + ": " + error.message());
        throw BadArgument("there is no folder " + path.string());
    }
    if (!fs::is_directory(status))
        throw BadArgument(path.string() + " is not a folder");
    return FileUrl::fromPath(path, true);
}

const HarnessSpec& harness(const HarnessRegistry& registry, const std::string& id) {
    try {
        return registry.spec(id);
    } catch (const HarnessError&) {
        std::string known;
        for (const HarnessSpec& spec : registry.specs())
            known += (known.empty() ? "" : ", ") + spec.id;
        throw BadArgument("no harness called " + inQuotes(id) + " is described in the manifest" +
                          (known.empty() ? std::string() : "; known harnesses: " + known));
    }
}

// Whether the tool is found where a run would look, with the caller's PATH standing
// in for the login shell's (which is not asked here: that can take seconds).
bool looksInstalled(const HarnessRegistry& registry, const HarnessSpec& spec) {
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
    return registry.isInstalled(spec, folders);
}

Endpoint endpointNamed(const std::string& argument) {
    std::vector<Endpoint> endpoints;
    // Reading only: the store would create the support folder.
    const fs::path file = EndpointStore::defaultFileURL();
    if (fs::exists(file))
        endpoints = EndpointStore(file).endpoints();
    if (const auto id = Uuid::parse(argument))
        for (const Endpoint& endpoint : endpoints)
            if (endpoint.id == *id)
                return endpoint;
    std::vector<Endpoint> named;
    std::copy_if(endpoints.begin(), endpoints.end(), std::back_inserter(named),
                 [&](const Endpoint& endpoint) { return endpoint.name == argument; });
    if (named.size() == 1)
        return named.front();
    if (named.empty())
        throw BadArgument("no endpoint is named or identified by " + inQuotes(argument) +
                          " (see marrowbellctl endpoints)");
    std::string message = std::to_string(named.size()) + " endpoints are named " +
                          inQuotes(argument) + "; name one by its identifier:";
    for (const Endpoint& endpoint : named)
        message += "\n  " + endpoint.id.text() + "  " + endpoint.name;
    throw BadArgument(message);
}

// The endpoint, which the harness must be able to read: the editor offers no other.
Endpoint endpoint(const std::string& argument, const HarnessSpec& spec) {
    const Endpoint found = endpointNamed(argument);
    const auto compatibility = CommandBuilder::compatibility(spec, found, std::nullopt);
    if (const auto* wrong = std::get_if<EndpointCompatibility::WrongProtocol>(&compatibility.value))
        throw BadArgument(spec.displayName + " cannot use " + inQuotes(found.name) +
                          ": it speaks the " + std::string(displayName(wrong->harness)) +
                          " protocol and the endpoint answers in " +
                          std::string(displayName(wrong->endpoint)));
    return found;
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

Seconds timeout(const std::string& text) {
    double seconds = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seconds);
    if (error != std::errc() || stop != end || !std::isfinite(seconds) || seconds <= 0)
        throw BadArgument("--timeout takes a positive number of seconds, such as 900, not " +
                          inQuotes(text));
    // Limits are applied in whole seconds; anything shorter would be no time at all.
    if (seconds < 1)
        throw BadArgument("--timeout must be at least 1 second");
    return seconds;
}

std::vector<std::string> skills(std::vector<std::string> names) {
    for (const std::string& name : names)
        if (name.empty())
            throw BadArgument("--skill is empty");
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
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
    // Read as UTF-8 everywhere after this; other bytes would turn into U+FFFD silently.
    if (!utf8::isValid(text))
        throw BadArgument(std::string(file && *file != "-" ? "the prompt file " + *file
                                                           : std::string("the prompt")) +
                          " is not UTF-8 text; convert it first (iconv -t UTF-8)");
    // The line end a file or a terminal leaves after the last line is not part of it.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (text.find_first_not_of(" \t\r\n\v\f") == std::string::npos)
        throw BadArgument("the prompt is empty; give it with --prompt-file FILE or on standard "
                          "input");
    return text;
}

// Every check runs before anything is read from standard input or written.
Job newJob(const Options& options, const HarnessRegistry& registry, Instant now) {
    const CronExpression parsed = schedule(options.values.at("schedule"));
    const FileUrl workingDirectory = folder(options.values.at("folder"));
    const HarnessSpec& spec = harness(registry, options.values.at("harness"));
    std::optional<Uuid> endpointID;
    if (const auto text = value(options, "endpoint"))
        endpointID = endpoint(*text, spec).id;
    LimitOverrides overrides;
    if (const auto text = value(options, "timeout"))
        overrides.timeoutSeconds = timeout(*text);
    const auto level = value(options, "permission");
    const auto policy = value(options, "offline");
    const auto model = value(options, "model");
    Job job{
        .id = Uuid::random(),
        .name = options.name->empty() ? "Untitled job" : *options.name,
        .prompt = {},
        .workingDirectory = workingDirectory,
        .harnessID = spec.id,
        .endpointID = endpointID,
        .model = model && !model->empty() ? model : std::nullopt,
        .skills = skills(options.skills),
        .permission = level ? permission(*level) : PermissionLevel::readOnly,
        .schedule = parsed,
        .timeZoneIdentifier = TimeZone::system().identifier(),
        .isPaused = false,
        .limitOverrides = overrides,
        .offlinePolicy = policy ? offlinePolicy(*policy) : OfflinePolicy::skipAndNotify,
        .createdAt = now,
        .resumedAt = std::nullopt,
    };
    job.prompt = prompt(value(options, "prompt-file"));
    return job;
}

int run(Arguments arguments) {
    std::optional<Job> made;
    bool installed = true;
    std::string harnessName;
    try {
        const Options options = parseArguments(arguments);
        const HarnessRegistry registry = HarnessRegistry::bundled();
        made = newJob(options, registry, Instant::now());
        const HarnessSpec& spec = registry.spec(made->harnessID);
        installed = looksInstalled(registry, spec);
        harnessName = spec.displayName;
    } catch (const BadArgument& error) {
        return usage(error.what());
    }
    const Job& job = *made;

    bool nameTaken = false;
    for (const Job& other : storedJobs())
        nameTaken = nameTaken || other.name == job.name;
    JobStore(JobStore::defaultDirectory()).save(job);

    const TimeZone zone = job.timeZone();
    const auto next = job.nextRun(Instant::now());
    std::cout << "Added \u201C" << printable(job.name) << "\u201D (" << job.id.text() << ").\n"
              << "  Schedule:   " << job.schedule.plainEnglish() << " (" << zone.identifier()
              << ")\n"
              << "  Harness:    " << harnessName << "\n"
              << "  Permission: " << job.permissionTitle() << "\n"
              << "  Next run:   " << (next ? isoLocal(*next, zone) : std::string("never")) << "\n";
    if (nameTaken)
        std::cerr << "marrowbellctl: note: another job is also named " << inQuotes(job.name)
                  << "; refer to this one by its identifier.\n";
    if (!installed)
        std::cerr << "marrowbellctl: note: " << harnessName
                  << " was not found on this computer; the job's runs fail until it is "
                     "installed.\n";
    printSchedulerNotice(std::cout);
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
