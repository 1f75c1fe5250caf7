#include "service/JobDraft.h"

#include "base/Utf8.h"
#include "harness/CommandBuilder.h"
#include "harness/HarnessRegistry.h"
#include "service/NameLookup.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace marrowbell {

namespace fs = std::filesystem;

namespace {

using Field = JobDraft::Field;
using Problem = JobDraft::Problem;

std::string inQuotes(std::string_view text) {
    return "\u201C" + std::string(text) + "\u201D";
}

std::optional<FileUrl> checkedFolder(const std::string& text, std::vector<Problem>& problems) {
    auto refuse = [&](std::string message) {
        problems.push_back({Field::folder, std::move(message)});
        return std::nullopt;
    };
    if (text.empty())
        return refuse("no folder is given");
    fs::path path = text;
    // A "~" no shell expanded, as in --folder=~/project.
    if (const char* home = std::getenv("HOME");
        home && *home && (text == "~" || text.starts_with("~/")))
        path = fs::path(home) / text.substr(std::min<std::size_t>(text.size(), 2));
    std::error_code error;
    path = fs::absolute(path, error).lexically_normal();
    if (error)
        return refuse("cannot reach the folder " + text + ": " + error.message());
    if (!path.has_filename() && path != path.root_path())
        path = path.parent_path();
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status)) {
        if (error && error != std::errc::no_such_file_or_directory &&
            error != std::errc::not_a_directory)
            return refuse("cannot reach the folder " + path.string() + ": " + error.message());
        return refuse("there is no folder " + path.string());
    }
    if (!fs::is_directory(status))
        return refuse(path.string() + " is not a folder");
    return FileUrl::fromPath(path, true);
}

std::optional<CronExpression> checkedSchedule(const std::string& text,
                                              std::vector<Problem>& problems) {
    try {
        return CronExpression(text);
    } catch (const CronError& error) {
        problems.push_back(
            {Field::schedule, "the schedule " + inQuotes(text) + " is not valid: " + error.what()});
        return std::nullopt;
    }
}

const HarnessSpec* checkedHarness(const JobDraft& draft, const JobDraft::Context& context,
                                  std::vector<Problem>& problems) {
    const HarnessRegistry& registry = context.registry;
    for (const HarnessSpec& spec : registry.specs()) {
        if (spec.id != draft.harnessID)
            continue;
        if (!registry.isInstalled(spec, context.searchPaths))
            problems.push_back({Field::harness,
                                spec.displayName +
                                    " was not found on this computer; the job's runs fail "
                                    "until it is installed",
                                false});
        return &spec;
    }
    const std::string known = registry.identifierList();
    problems.push_back(
        {Field::harness, "no harness called " + inQuotes(draft.harnessID) +
                             " is described in the manifest" +
                             (known.empty() ? std::string() : "; known harnesses: " + known)});
    return nullptr;
}

// The endpoint, which the harness must be able to read: a run would refuse any other.
std::optional<Endpoint> checkedEndpoint(const std::string& argument, const HarnessSpec* spec,
                                        const JobDraft::Context& context,
                                        std::vector<Problem>& problems) {
    std::optional<Endpoint> found;
    try {
        found = NameLookup::endpoint(context.endpoints, argument);
    } catch (const NameLookup::Error& error) {
        problems.push_back({Field::endpoint, error.what()});
        return std::nullopt;
    }
    if (!spec)
        return found;
    const auto compatibility = CommandBuilder::compatibility(*spec, *found, std::nullopt);
    if (const auto* wrong =
            std::get_if<EndpointCompatibility::WrongProtocol>(&compatibility.value)) {
        problems.push_back({Field::endpoint, spec->displayName + " cannot use " +
                                                 inQuotes(found->name) + ": it speaks the " +
                                                 std::string(displayName(wrong->harness)) +
                                                 " protocol and the endpoint answers in " +
                                                 std::string(displayName(wrong->endpoint))});
        return std::nullopt;
    }
    if (auto reason = compatibility.reason(spec->displayName, inQuotes(found->name))) {
        problems.push_back({Field::endpoint, *reason});
        return std::nullopt;
    }
    return found;
}

} // namespace

bool JobDraft::Checked::blocked() const {
    for (const Problem& problem : problems)
        if (problem.blocking)
            return true;
    return false;
}

JobDraft::Checked JobDraft::check(const Context& context, Instant now) const {
    Checked checked;
    std::vector<Problem>& problems = checked.problems;

    const std::string jobName = name.empty() ? "Untitled job" : name;
    for (const Job& other : context.jobs)
        if (other.name == jobName && !(original && other.id == original->id)) {
            problems.push_back({Field::name,
                                "another job is also named " + inQuotes(jobName) +
                                    "; refer to this one by its identifier",
                                false});
            break;
        }
    const std::optional<FileUrl> workingDirectory = checkedFolder(folder, problems);
    const std::optional<CronExpression> parsed = checkedSchedule(schedule, problems);
    if (timeZone && !TimeZone::named(*timeZone))
        problems.push_back({Field::timeZone, "no time zone is called " + inQuotes(*timeZone) +
                                                 "; give a tz database name, such as "
                                                 "Europe/London or UTC"});
    const HarnessSpec* spec = checkedHarness(*this, context, problems);
    std::optional<Endpoint> chosen;
    if (endpoint)
        chosen = checkedEndpoint(*endpoint, spec, context, problems);
    if (std::find(skills.begin(), skills.end(), std::string()) != skills.end())
        problems.push_back({Field::skills, "a skill's name is empty"});
    if (timeLimit && (!std::isfinite(*timeLimit) || *timeLimit <= 0))
        problems.push_back({Field::timeLimit, "the time limit must be a positive number of "
                                              "seconds, such as 900"});
    // Limits are applied in whole seconds; anything shorter would be no time at all.
    else if (timeLimit && *timeLimit < 1)
        problems.push_back({Field::timeLimit, "the time limit must be at least 1 second"});
    if (prompt && prompt->find_first_not_of(" \t\r\n\v\f") == std::string::npos)
        problems.push_back({Field::prompt, "the prompt is empty"});
    else if (prompt && !utf8::isValid(*prompt))
        problems.push_back({Field::prompt, "the prompt is not UTF-8 text"});

    // Each check appends in field order already; stable, should one ever not.
    std::stable_sort(problems.begin(), problems.end(),
                     [](const Problem& a, const Problem& b) { return a.field < b.field; });
    if (checked.blocked() || !prompt)
        return checked;

    std::vector<std::string> skillNames = skills;
    std::sort(skillNames.begin(), skillNames.end());
    skillNames.erase(std::unique(skillNames.begin(), skillNames.end()), skillNames.end());
    LimitOverrides overrides;
    overrides.timeoutSeconds = timeLimit;
    checked.job = Job{
        .id = original ? original->id : Uuid::random(),
        .name = jobName,
        .prompt = *prompt,
        .workingDirectory = *workingDirectory,
        .harnessID = spec->id,
        .endpointID = chosen ? std::optional(chosen->id) : std::nullopt,
        .model = model && !model->empty() ? model : std::nullopt,
        .skills = std::move(skillNames),
        .permission = permission,
        .schedule = *parsed,
        .timeZoneIdentifier = timeZone   ? *timeZone
                              : original ? original->timeZoneIdentifier
                                         : TimeZone::system().identifier(),
        .isPaused = original && original->isPaused,
        .limitOverrides = overrides,
        .offlinePolicy = offlinePolicy,
        .createdAt = original ? original->createdAt : now,
        .resumedAt = original ? original->resumedAt : std::nullopt,
    };
    return checked;
}

JobDraft JobDraft::editing(const Job& job) {
    JobDraft draft;
    draft.original = job;
    draft.name = job.name;
    draft.folder = job.workingDirectory.fsPath().string();
    draft.schedule = job.schedule.text();
    draft.harnessID = job.harnessID;
    if (job.endpointID)
        draft.endpoint = job.endpointID->text();
    draft.model = job.model;
    draft.skills = job.skills;
    draft.permission = job.permission;
    draft.timeLimit = job.limitOverrides.timeoutSeconds;
    draft.offlinePolicy = job.offlinePolicy;
    draft.prompt = job.prompt;
    return draft;
}

} // namespace marrowbell
