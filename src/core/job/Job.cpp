#include "job/Job.h"

#include <filesystem>

namespace marrowbell {

Job Job::fromJson(const Json& value) {
    const Json& o = json::object(value, "job");
    auto permissionText = json::requiredString(o, "permission");
    auto permission = permissionLevelFromRaw(permissionText);
    if (!permission)
        throw DecodeError("\"permission\" is not a permission level");
    auto policy = OfflinePolicy::skipAndNotify;
    if (auto policyText = json::optionalString(o, "offlinePolicy")) {
        auto parsed = offlinePolicyFromRaw(*policyText);
        if (!parsed)
            throw DecodeError("\"offlinePolicy\" is not an offline policy");
        policy = *parsed;
    }
    LimitOverrides overrides;
    if (json::has(o, "limitOverrides"))
        overrides = LimitOverrides::fromJson(o.at("limitOverrides"));
    return Job{
        .id = json::requiredUuid(o, "id"),
        .name = json::requiredString(o, "name"),
        .prompt = json::requiredString(o, "prompt"),
        .workingDirectory = json::requiredFileUrl(o, "workingDirectory"),
        .harnessID = json::requiredString(o, "harnessID"),
        .endpointID = json::optionalUuid(o, "endpointID"),
        .model = json::optionalString(o, "model"),
        .skills = json::optionalStrings(o, "skills").value_or(std::vector<std::string>{}),
        .permission = *permission,
        .schedule = CronExpression(json::requiredString(o, "schedule")),
        .timeZoneIdentifier = json::requiredString(o, "timeZoneIdentifier"),
        .isPaused = json::optionalBool(o, "isPaused").value_or(false),
        .limitOverrides = overrides,
        .offlinePolicy = policy,
        .createdAt = json::requiredInstant(o, "createdAt"),
        .resumedAt = json::optionalInstant(o, "resumedAt"),
    };
}

Json Job::toJson() const {
    Json o = {
        {"id", id.text()},
        {"name", name},
        {"prompt", prompt},
        {"workingDirectory", workingDirectory.absoluteString},
        {"harnessID", harnessID},
        {"skills", skills},
        {"permission", rawValue(permission)},
        {"schedule", schedule.text()},
        {"timeZoneIdentifier", timeZoneIdentifier},
        {"isPaused", isPaused},
        {"limitOverrides", limitOverrides.toJson()},
        {"offlinePolicy", rawValue(offlinePolicy)},
        {"createdAt", createdAt.sinceReference},
    };
    if (endpointID)
        o["endpointID"] = endpointID->text();
    if (model)
        o["model"] = *model;
    if (resumedAt)
        o["resumedAt"] = resumedAt->sinceReference;
    return o;
}

TimeZone Job::timeZone() const {
    return TimeZone::namedOrSystem(timeZoneIdentifier);
}

Instant Job::earliestEligible() const {
    return std::max(createdAt, resumedAt.value_or(Instant::distantPast()));
}

std::optional<Instant> Job::nextRun(Instant after) const {
    if (isPaused)
        return std::nullopt;
    return nextRunIfResumed(after);
}

std::optional<Instant> Job::nextRunIfResumed(Instant after) const {
    return schedule.nextDate(after, timeZone());
}

std::vector<Instant> Job::nextRuns(std::int64_t count, Instant after) const {
    if (isPaused)
        return {};
    return schedule.nextDates(count, after, timeZone());
}

RunLimits Job::effectiveLimits(const RunLimits& defaults) const {
    return {limitOverrides.timeoutSeconds.value_or(defaults.timeoutSeconds),
            defaults.notifyOnFailureOnly};
}

void Job::setPaused(bool paused, Instant now) {
    isPaused = paused;
    if (!paused)
        resumedAt = now;
}

std::string Job::permissionTitle() const {
    if (permission == PermissionLevel::scopedWrite) {
        std::error_code error;
        if (std::filesystem::exists(workingDirectory.fsPath() / ".git", error))
            return repositoryTitle(permission);
    }
    return plainTitle(permission);
}

} // namespace marrowbell
