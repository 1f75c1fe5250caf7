// marrowbellctl edit: changes what is given of a job, checked as a job draft like
// `add` and the desktop editor, keeping everything that makes it the same job.
#include "Command.h"
#include "IsoTime.h"
#include "JobArgument.h"
#include "JobOptions.h"
#include "TerminalText.h"

#include "run/DurationText.h"
#include "service/NameLookup.h"

#include <iostream>
#include <optional>

namespace marrowbell::ctl {
namespace {

const Options::Accepted accepted{
    {"name", "folder", "harness", "schedule", "zone", "permission", "endpoint", "timeout",
     "offline", "model", "prompt-file"},
    {"no-model", "no-endpoint", "no-skills", "no-timeout", "prompt-stdin"},
    "skill"};

// Each pair: an option with a value and the flag that contradicts it.
const std::pair<const char*, const char*> contradictions[] = {{"model", "no-model"},
                                                              {"endpoint", "no-endpoint"},
                                                              {"timeout", "no-timeout"},
                                                              {"prompt-file", "prompt-stdin"}};

bool readsPrompt(const Options& options) {
    return options.values.contains("prompt-file") || options.has("prompt-stdin");
}

// The draft of `job` with the options applied; throws BadArgument.
JobDraft edited(const Job& job, const Options& options) {
    for (const auto& [option, flag] : contradictions)
        if (options.values.contains(option) && options.has(flag))
            throw BadArgument(std::string("edit: --") + option + " and --" + flag +
                              " contradict each other");
    if (!options.repeated.empty() && options.has("no-skills"))
        throw BadArgument("edit: --skill and --no-skills contradict each other");
    if (options.empty())
        throw BadArgument("edit: nothing to change; give at least one option (see "
                          "\u201Cmarrowbellctl help edit\u201D)");

    JobDraft draft = JobDraft::editing(job);
    if (auto name = options.value("name"))
        draft.name = *name;
    if (auto folder = options.value("folder"))
        draft.folder = *folder;
    if (auto harness = options.value("harness"))
        draft.harnessID = *harness;
    if (auto schedule = options.value("schedule"))
        draft.schedule = *schedule;
    if (auto zone = options.value("zone"))
        draft.timeZone = *zone;
    if (auto level = options.value("permission"))
        draft.permission = permissionOption(*level);
    if (auto policy = options.value("offline"))
        draft.offlinePolicy = offlineOption(*policy);
    if (options.has("no-model"))
        draft.model.reset();
    else if (auto model = options.value("model"))
        draft.model = *model;
    if (options.has("no-endpoint"))
        draft.endpoint.reset();
    else if (auto endpoint = options.value("endpoint"))
        draft.endpoint = *endpoint;
    if (options.has("no-skills"))
        draft.skills.clear();
    else if (!options.repeated.empty())
        draft.skills = options.repeated;
    if (options.has("no-timeout"))
        draft.timeLimit.reset();
    else if (auto text = options.value("timeout"))
        draft.timeLimit = timeoutOption(*text);
    if (readsPrompt(options))
        draft.prompt.reset(); // read once everything else passed
    return draft;
}

std::string endpointText(const std::optional<Uuid>& id, const std::vector<Endpoint>& endpoints) {
    if (!id)
        return "the harness's own provider";
    for (const Endpoint& endpoint : endpoints)
        if (endpoint.id == *id)
            return printable(endpoint.name);
    return id->text();
}

std::string listText(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + printable(item);
    return text.empty() ? "none" : text;
}

std::string timeLimitText(const LimitOverrides& overrides) {
    return overrides.timeoutSeconds ? readable(*overrides.timeoutSeconds) : "the default";
}

// One line "  Field: before → after" for each field that differs.
void printChanges(const Job& before, const Job& after, const std::vector<Endpoint>& endpoints) {
    auto line = [](const char* field, const std::string& from, const std::string& to) {
        if (from != to)
            std::cout << "  " << field << from << " \u2192 " << to << "\n";
    };
    line("Name:       ", printable(before.name), printable(after.name));
    line("Folder:     ", printable(before.workingDirectory.fsPath().string()),
         printable(after.workingDirectory.fsPath().string()));
    line("Harness:    ", before.harnessID, after.harnessID);
    line("Schedule:   ", before.schedule.text(), after.schedule.text());
    line("Time zone:  ", before.timeZoneIdentifier, after.timeZoneIdentifier);
    line("Permission: ", std::string(rawValue(before.permission)),
         std::string(rawValue(after.permission)));
    line("Endpoint:   ", endpointText(before.endpointID, endpoints),
         endpointText(after.endpointID, endpoints));
    line("Model:      ", printable(before.model.value_or("the harness's default")),
         printable(after.model.value_or("the harness's default")));
    line("Skills:     ", listText(before.skills), listText(after.skills));
    line("Time limit: ", timeLimitText(before.limitOverrides), timeLimitText(after.limitOverrides));
    line("If offline: ", std::string(plainTitle(before.offlinePolicy)),
         std::string(plainTitle(after.offlinePolicy)));
    if (before.prompt != after.prompt)
        std::cout << "  Prompt:     changed (" << after.prompt.size() << " bytes)\n";
}

int run(Arguments arguments) {
    std::optional<Options> options;
    std::optional<HarnessRegistry> registry;
    std::optional<Job> job;
    std::optional<JobDraft> draft;
    try {
        options = Options::parse(arguments, accepted, "edit");
        if (options->operands.size() != 1)
            return usage("edit needs exactly one JOB (a job's name or identifier)");
        registry = HarnessRegistry::bundled();
        job = NameLookup::job(storedJobs(), options->operands[0]);
        draft = edited(*job, *options);
    } catch (const UnknownOption& option) {
        return unknownOption(option.what());
    } catch (const BadArgument& error) {
        return usage(error.what());
    } catch (const NameLookup::Error& error) {
        return usage(error.what());
    }
    const JobDraft::Context context = draftContext(*registry);
    JobDraft::Checked checked;
    try {
        checked = checkedWithPrompt(*draft, context, options->value("prompt-file"));
    } catch (const BadArgument& error) {
        return usage(error.what());
    }
    if (checked.blocked()) {
        printProblems(checked.problems, true);
        // The endpoint the job names may have been deleted since.
        for (const JobDraft::Problem& problem : checked.problems)
            if (problem.field == JobDraft::Field::endpoint && !options->value("endpoint")) {
                std::cerr << "marrowbellctl: choose one with --endpoint ENDPOINT, or "
                             "--no-endpoint for the harness's own provider\n";
                break;
            }
        return usageError;
    }
    const Job& changed = *checked.job;
    if (changed == *job) {
        std::cout << "Nothing changed: \u201C" << printable(job->name)
                  << "\u201D already reads so.\n";
        return success;
    }
    JobStore(JobStore::defaultDirectory()).save(changed);

    std::cout << "Changed \u201C" << printable(changed.name) << "\u201D (" << changed.id.text()
              << "):\n";
    printChanges(*job, changed, context.endpoints);
    const TimeZone zone = changed.timeZone();
    const auto next = changed.nextRun(Instant::now());
    std::cout << "  Next run:   "
              << (changed.isPaused ? std::string("paused")
                  : next           ? isoLocal(*next, zone)
                                   : std::string("never"))
              << "\n";
    printProblems(checked.problems, false);
    return success;
}

const Command command{
    "edit",
    Help{Group::jobs, "change a job, keeping its identity, zone, pause state and history",
         "edit JOB [--name N] [--folder DIR] [--harness ID] [--schedule CRON] [--zone ZONE] "
         "[--permission LEVEL] [--model M | --no-model] [--endpoint ENDPOINT | --no-endpoint] "
         "[--skill S]... [--no-skills] [--timeout SECONDS | --no-timeout] [--offline skip|fail] "
         "[--prompt-file F | --prompt-stdin]",
         "  --name N              a new name\n"
         "  --folder DIR          the folder the tool works in\n"
         "  --harness ID          the tool\n"
         "  --schedule CRON       five-field cron: minute hour day month weekday\n"
         "  --zone ZONE           the time zone the schedule is read in (Europe/London, UTC)\n"
         "  --permission LEVEL    readOnly, scopedWrite or fullAccess\n"
         "  --model M             the model; --no-model: the tool's default\n"
         "  --endpoint ENDPOINT   the model server; --no-endpoint: the tool's own provider\n"
         "  --skill S             the skills, replacing the job's; repeat for more;\n"
         "                        --no-skills: none\n"
         "  --timeout SECONDS     the time limit; --no-timeout: the settings' default\n"
         "  --offline skip|fail   when the endpoint is down: skip the run or fail it\n"
         "  --prompt-file F       the prompt from F (- for standard input);\n"
         "                        --prompt-stdin: from standard input\n"
         "Only what is given changes, checked as `add` checks a new job; what changed is\n"
         "printed. The job keeps its identifier, pause state and run history.",
         "marrowbellctl edit \"Nightly review\" --schedule \"30 1 * * 1-5\" --zone Europe/Berlin"},
    &run};

} // namespace
} // namespace marrowbell::ctl
