// marrowbellctl add: creates a job from the command line, checked as a job draft like
// the desktop editor's, so that a headless user never writes a job file by hand.
#include "Command.h"
#include "IsoTime.h"
#include "JobOptions.h"
#include "TerminalText.h"

#include "job/JobStore.h"

#include <iostream>
#include <optional>

namespace marrowbell::ctl {
namespace {

const Options::Accepted accepted{{"folder", "harness", "schedule", "permission", "model",
                                  "endpoint", "timeout", "offline", "prompt-file"},
                                 {},
                                 "skill"};

JobDraft draft(const Options& options) {
    if (options.operands.size() != 1)
        throw BadArgument(options.operands.empty()
                              ? "add needs a NAME"
                              : "add takes one NAME; unexpected \u201C" + options.operands[1] +
                                    "\u201D (quote a name with spaces)");
    for (const char* required : {"folder", "harness", "schedule"})
        if (!options.values.contains(required))
            throw BadArgument(std::string("add needs --") + required);
    JobDraft draft;
    draft.name = options.operands[0];
    draft.folder = options.values.at("folder");
    draft.schedule = options.values.at("schedule");
    draft.harnessID = options.values.at("harness");
    draft.endpoint = options.value("endpoint");
    draft.model = options.value("model");
    draft.skills = options.repeated;
    if (const auto level = options.value("permission"))
        draft.permission = permissionOption(*level);
    if (const auto policy = options.value("offline"))
        draft.offlinePolicy = offlineOption(*policy);
    if (const auto text = options.value("timeout"))
        draft.timeLimit = timeoutOption(*text);
    return draft;
}

int run(Arguments arguments) {
    std::optional<Options> options;
    std::optional<JobDraft> made;
    std::optional<HarnessRegistry> registry;
    try {
        options = Options::parse(arguments, accepted, "add");
        made = draft(*options);
        registry = HarnessRegistry::bundled();
    } catch (const UnknownOption& option) {
        return unknownOption(option.what());
    } catch (const BadArgument& error) {
        return usage(error.what());
    }
    const JobDraft::Context context = draftContext(*registry);
    // Every other field is checked before the prompt is read from standard input, and
    // nothing is written before the whole draft passes.
    JobDraft::Checked checked;
    try {
        checked = checkedWithPrompt(*made, context, options->value("prompt-file"));
    } catch (const BadArgument& error) {
        return usage(error.what());
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
    Help{Group::jobs, "create a job, checked as the desktop editor checks one",
         "add NAME --folder DIR --harness ID --schedule CRON [--permission LEVEL] [--model M] "
         "[--endpoint ENDPOINT] [--skill S]... [--timeout SECONDS] [--offline skip|fail] "
         "[--prompt-file F]",
         "  --folder DIR          the folder the tool works in (absolute, or relative to here)\n"
         "  --harness ID          the tool: an identifier of `marrowbellctl harnesses`\n"
         "  --schedule CRON       five-field cron: minute hour day month weekday\n"
         "  --permission LEVEL    readOnly (the default), scopedWrite or fullAccess\n"
         "  --model M             the model; without it the tool's default\n"
         "  --endpoint ENDPOINT   the model server; without it the tool's own provider\n"
         "  --skill S             a skill the runs may load; repeat for more\n"
         "  --timeout SECONDS     the time limit; without it the settings' default\n"
         "  --offline skip|fail   when the endpoint is down: skip the run (default) or fail it\n"
         "  --prompt-file F       the prompt; without it (or with -) standard input\n"
         "New jobs use the system time zone; `edit --zone` moves one.",
         "marrowbellctl add \"Nightly review\" --folder ~/code/app --harness claude \\\n"
         "    --schedule \"0 2 * * *\" --prompt-file review.md"},

    &run};

} // namespace
} // namespace marrowbell::ctl
