#include "editor/JobEditor.h"

#include "base/TimeZone.h"
#include "cron/CronExpression.h"
#include "service/JobDraft.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace marrowbell::app {

namespace {

std::optional<CronExpression> parsed(const std::string& text) {
    try {
        return CronExpression(text);
    } catch (const CronError&) {
        return std::nullopt;
    }
}

std::string sentence(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = char(text[0] - 'a' + 'A');
    return text + ".";
}

bool containsFolded(const std::string& text, const QString& part) {
    return QString::fromStdString(text).toLower().contains(part);
}

} // namespace

JobEditor::JobEditor(EditorContext context, int hour, int minute)
    : context_(std::move(context)) {
    draft = context_.editingJob
                ? Draft::of(*context_.editingJob)
                : Draft::fresh(context_.registry ? context_.registry->defaults().schedule : "",
                               context_.defaultHarnessID);
    schedule.hour = hour;
    schedule.minute = minute;
    schedule.load(draft.cron);
}

void JobEditor::setContext(EditorContext context) {
    context_ = std::move(context);
}

void JobEditor::rebuildCron() {
    if (auto text = schedule.cron())
        draft.cron = std::move(*text);
}

std::optional<std::string> JobEditor::scheduleError() const {
    try {
        CronExpression expression(draft.cron);
        return std::nullopt;
    } catch (const CronError& error) {
        return error.what();
    }
}

std::vector<Instant> JobEditor::upcoming(Instant now, int count) const {
    const auto expression = parsed(draft.cron);
    if (!expression)
        return {};
    return expression->nextDates(count, now, TimeZone::system());
}

std::optional<std::string> JobEditor::missingField() const {
    if (draft.name.empty())
        return "Name this job to schedule it.";
    if (!draft.workingDirectory)
        return "Choose the folder this job runs in.";
    if (!parsed(draft.cron))
        return "Set a schedule.";
    return std::nullopt;
}

std::optional<std::string> JobEditor::missingHarness() const {
    if (context_.installedHarnessIDs.contains(draft.harnessID))
        return std::nullopt;
    return harnessName() + " is not installed. Install it, or pick another harness under Advanced.";
}

std::optional<std::string> JobEditor::blockingProblem(Instant now) const {
    if (!context_.registry)
        return std::nullopt;
    const JobDraft::Context checks{*context_.registry, context_.endpoints, context_.jobs,
                                   std::nullopt};
    for (const JobDraft::Problem& problem :
         draft.checkable(editingJob()).check(checks, now).problems)
        if (problem.blocking)
            return sentence(problem.message);
    return std::nullopt;
}

std::optional<std::string>
JobEditor::footerMessage(Instant now, const std::function<std::string(Instant)>& when) const {
    if (auto message = missingHarness())
        return message;
    if (auto message = missingField())
        return message;
    if (auto message = blockingProblem(now))
        return message;
    if (!isNew())
        return std::nullopt;
    const std::vector<Instant> first = upcoming(now, 1);
    if (first.empty())
        return std::nullopt;
    return "Runs from " + when(first.front());
}

std::optional<Job> JobEditor::jobToSave(Instant now) const {
    std::optional<Job> job = draft.job(editingJob(), now);
    // The checks the command line applies too, so both agree on what can be saved.
    if (job && blockingProblem(now))
        return std::nullopt;
    return job;
}

bool JobEditor::isRepository() const {
    if (!draft.workingDirectory)
        return false;
    std::error_code error;
    return std::filesystem::exists(
        std::filesystem::symlink_status(draft.workingDirectory->fsPath() / ".git", error));
}

std::string JobEditor::folderDescription(std::optional<bool> landsInWorktree) const {
    if (!draft.workingDirectory)
        return "Pick the folder this job works in. Nothing outside it is touched, and the app "
               "asks for no access until you choose.";
    const bool repository = isRepository();
    if (landsInWorktree.value_or(repository))
        return "A git repository — scoped writes land in a throwaway worktree.";
    // Without git (or with a repository git cannot read) runs work in the folder itself.
    if (repository)
        return "A git repository — scoped writes land in this folder; commit first so you can "
               "review them.";
    return "Not a repository — scoped writes stay inside this folder.";
}

std::string JobEditor::permissionTitle(PermissionLevel level,
                                       std::optional<bool> landsInWorktree) const {
    return landsInWorktree.value_or(isRepository()) ? repositoryTitle(level) : plainTitle(level);
}

JobEditor::Note JobEditor::permissionNote() const {
    switch (draft.permission) {
    case PermissionLevel::fullAccess:
        if (isSandboxed())
            return {Note::Icon::shield,
                    "Approvals are skipped, but writes are confined to this folder by the "
                    "operating system — that holds even for shell commands. The network stays "
                    "open, so this bounds what a run can write, not what it can send."};
        return {Note::Icon::warning, "This runs unattended with no sandbox and no approvals. "
                                     "Grant it per job, never by default."};
    case PermissionLevel::scopedWrite:
        if (const HarnessSpec* spec = harnessSpec())
            return {Note::Icon::none, std::string(explanation(spec->limitEnforcement))};
        return {};
    case PermissionLevel::readOnly:
        return {};
    }
    return {};
}

const HarnessSpec* JobEditor::harnessSpec() const {
    if (!context_.registry)
        return nullptr;
    for (const HarnessSpec& spec : context_.registry->specs())
        if (spec.id == draft.harnessID)
            return &spec;
    return nullptr;
}

std::string JobEditor::harnessName() const {
    const HarnessSpec* spec = harnessSpec();
    return spec ? spec->displayName : draft.harnessID;
}

std::string JobEditor::harnessLabel(const HarnessSpec& spec) const {
    return spec.displayName +
           (context_.installedHarnessIDs.contains(spec.id) ? "" : " — not installed");
}

bool JobEditor::isSandboxed() const {
    const HarnessSpec* spec = harnessSpec();
    return spec && (spec->limitEnforcement == LimitEnforcement::operatingSystem || spec->sandbox);
}

bool JobEditor::harnessSupportsSkills() const {
    const HarnessSpec* spec = harnessSpec();
    return spec && spec->skills;
}

std::vector<Endpoint> JobEditor::usableEndpoints() const {
    std::vector<Endpoint> usable;
    for (const Endpoint& endpoint : context_.endpoints)
        if (!context_.compatibility ||
            context_.compatibility(draft.harnessID, endpoint).isCompatible())
            usable.push_back(endpoint);
    return usable;
}

std::vector<Endpoint> JobEditor::unusableEndpoints() const {
    std::vector<Endpoint> unusable;
    if (context_.compatibility)
        for (const Endpoint& endpoint : context_.endpoints)
            if (!context_.compatibility(draft.harnessID, endpoint).isCompatible())
                unusable.push_back(endpoint);
    return unusable;
}

std::string JobEditor::unusableEndpointsNote() const {
    const std::vector<Endpoint> unusable = unusableEndpoints();
    std::string lines;
    for (const Endpoint& endpoint : unusable) {
        const auto compatibility = context_.compatibility(draft.harnessID, endpoint);
        if (const auto* missing =
                std::get_if<EndpointCompatibility::ProviderMissing>(&compatibility.value))
            lines += (lines.empty() ? "" : "\n") + endpoint.name + " not shown — add a \"" +
                     missing->provider + "\" provider to " + missing->configuredIn + " and " +
                     harnessName() + " can reach it.";
    }
    if (!lines.empty() || unusable.empty())
        return lines;
    std::string names;
    for (const Endpoint& endpoint : unusable)
        names += (names.empty() ? "" : ", ") + endpoint.name;
    return names + " not shown — " + harnessName() + " cannot read what they serve.";
}

const Endpoint* JobEditor::chosenEndpoint() const {
    if (!draft.endpointID)
        return nullptr;
    for (const Endpoint& endpoint : context_.endpoints)
        if (endpoint.id == *draft.endpointID)
            return &endpoint;
    return nullptr;
}

std::string JobEditor::modelPlaceholder() const {
    return chosenEndpoint() ? "Model name" : "Default for " + harnessName();
}

std::string JobEditor::modelNote() const {
    const Endpoint* endpoint = chosenEndpoint();
    if (availableModels.empty())
        return endpoint
                   ? endpoint->name +
                         " did not answer, so its models could not be listed. Check it "
                         "under Settings \u2192 Endpoints."
                   : "Left empty, " + harnessName() + " uses whichever model it is configured for.";
    return endpoint ? "Served right now by " + endpoint->name + "."
                    : "Available to " + harnessName() + " with its current sign-in.";
}

std::vector<Skill> JobEditor::shownSkills() const {
    if (!skillDiscovery)
        return {};
    const QString filter = QString::fromStdString(skillFilter).toLower();
    std::vector<Skill> shown;
    for (const Skill& skill : skillDiscovery->items())
        if (filter.isEmpty() || containsFolded(skill.name, filter) ||
            (skill.summary && containsFolded(*skill.summary, filter)))
            shown.push_back(skill);
    return shown;
}

std::string JobEditor::skillCountLine() const {
    const std::string total = std::to_string(skillDiscovery ? skillDiscovery->items().size() : 0);
    if (draft.enabledSkills.empty())
        return "none of " + total;
    return std::to_string(draft.enabledSkills.size()) + " of " + total + " enabled";
}

std::string JobEditor::skillHint() const {
    const HarnessSpec* spec = harnessSpec();
    if (spec && spec->skills && spec->skills->style == SkillStyle::toggle)
        return "This harness enables everything by default. Choosing here switches the rest "
               "off for this job, so a run loads only what you picked.";
    return "Loading everything makes a run slower and less predictable. Attach what the task "
           "needs; the rest stays out.";
}

std::string JobEditor::noSkillsText() const {
    return "No skills installed for " + harnessName();
}

std::string JobEditor::limitDescription() const {
    const auto own = editingJob() ? editingJob()->limitOverrides.timeoutSeconds : std::nullopt;
    const Seconds limit = own.value_or(context_.settings.defaults.timeoutSeconds);
    const auto minutes = static_cast<long long>(std::trunc(limit / 60));
    // A job given its own limit (from the command line) does not take the Settings one.
    return std::to_string(minutes) + " minutes · " + (own ? "set for this job" : "from Settings");
}

std::string JobEditor::advancedSummary() const {
    const Endpoint* endpoint = chosenEndpoint();
    const std::size_t skills = draft.enabledSkills.size();
    return harnessName() + " · " + (endpoint ? endpoint->name : "default endpoint") + " · " +
           (skills == 0 ? "no skills" : std::to_string(skills) + " skills") + " · " +
           (editingJob() && editingJob()->hasOverriddenLimits() ? "own time limit"
                                                                : "limits from Settings");
}

} // namespace marrowbell::app
