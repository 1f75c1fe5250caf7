#include "editor/Draft.h"

#include "base/TimeZone.h"

namespace marrowbell::app {

namespace {

std::string endpointText(const std::optional<Uuid>& id) {
    return id ? id->text() : std::string();
}

std::string joined(const std::set<std::string>& items, std::string_view separator) {
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : std::string(separator)) + item;
    return text;
}

} // namespace

Draft Draft::fresh(std::string cron, std::string harnessID) {
    Draft draft;
    draft.cron = std::move(cron);
    draft.harnessID = std::move(harnessID);
    return draft;
}

Draft Draft::of(const Job& job) {
    return Draft{
        .name = job.name,
        .prompt = job.prompt,
        .workingDirectory = job.workingDirectory,
        .cron = job.schedule.text(),
        .harnessID = job.harnessID,
        .endpointID = job.endpointID,
        .model = job.model.value_or(""),
        .enabledSkills = {job.skills.begin(), job.skills.end()},
        .permission = job.permission,
        .offlinePolicy = job.offlinePolicy,
    };
}

std::optional<Job> Draft::job(const std::optional<Job>& base, Instant now) const {
    std::optional<CronExpression> schedule;
    try {
        schedule.emplace(cron);
    } catch (const CronError&) {
        return std::nullopt;
    }
    if (!workingDirectory)
        return std::nullopt;
    return Job{
        .id = base ? base->id : Uuid::random(),
        .name = name.empty() ? "Untitled job" : name,
        .prompt = prompt,
        .workingDirectory = *workingDirectory,
        .harnessID = harnessID,
        .endpointID = endpointID,
        .model = model.empty() ? std::nullopt : std::optional(model),
        // A std::set is already in plain text order.
        .skills = {enabledSkills.begin(), enabledSkills.end()},
        .permission = permission,
        .schedule = *schedule,
        .timeZoneIdentifier = base ? base->timeZoneIdentifier : TimeZone::system().identifier(),
        .isPaused = base && base->isPaused,
        .limitOverrides = base ? base->limitOverrides : LimitOverrides{},
        .offlinePolicy = offlinePolicy,
        .createdAt = base ? base->createdAt : now,
        .resumedAt = base ? base->resumedAt : std::nullopt,
    };
}

JobDraft Draft::checkable(const std::optional<Job>& base) const {
    JobDraft checked;
    checked.original = base;
    checked.name = name;
    checked.folder = workingDirectory ? workingDirectory->fsPath().string() : std::string();
    checked.schedule = cron;
    checked.harnessID = harnessID;
    if (endpointID)
        checked.endpoint = endpointID->text();
    checked.model = model;
    checked.skills = {enabledSkills.begin(), enabledSkills.end()};
    checked.permission = permission;
    if (base)
        checked.timeLimit = base->limitOverrides.timeoutSeconds;
    checked.offlinePolicy = offlinePolicy;
    checked.prompt = prompt;
    return checked;
}

std::string Draft::commandKey() const {
    return harnessID + "|" + model + "|" + std::string(rawValue(permission)) + "|" +
           endpointText(endpointID) + "|" +
           (workingDirectory ? workingDirectory->fsPath().string() : std::string()) + "|" +
           joined(enabledSkills, ",");
}

std::string Draft::modelsKey() const {
    return harnessID + "|" + endpointText(endpointID);
}

} // namespace marrowbell::app
