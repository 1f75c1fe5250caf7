#pragma once

#include "base/FileUrl.h"
#include "base/Instant.h"
#include "base/Json.h"
#include "base/TimeZone.h"
#include "base/Uuid.h"
#include "cron/CronExpression.h"
#include "job/LimitOverrides.h"
#include "job/OfflinePolicy.h"
#include "job/PermissionLevel.h"
#include "job/RunLimits.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace marrowbell {

// One instruction given to one harness in one folder on one cron schedule. A plain
// value built with all sixteen fields; `id` and `createdAt` never change after the
// job is made.
struct Job {
    Uuid id;
    std::string name;
    std::string prompt;
    FileUrl workingDirectory;
    std::string harnessID;
    std::optional<Uuid> endpointID;   // none: the harness's own default provider
    std::optional<std::string> model; // none: the harness's default model
    std::vector<std::string> skills;
    PermissionLevel permission;
    CronExpression schedule;
    std::string timeZoneIdentifier; // tz identifier the schedule is read in
    bool isPaused;
    LimitOverrides limitOverrides;
    OfflinePolicy offlinePolicy;
    Instant createdAt;
    std::optional<Instant> resumedAt; // when last un-paused

    // Reads the stored JSON object. Throws DecodeError on a missing or null required
    // key, a wrong type in any key, or an unknown permission or offline policy, and
    // CronError when "schedule" is not a cron expression. Unknown keys are ignored.
    static Job fromJson(const Json& value);
    // Every key, except "endpointID", "model" and "resumedAt" when they hold none.
    Json toJson() const;

    // The zone named by `timeZoneIdentifier`, or the system's zone when unknown.
    TimeZone timeZone() const;
    // The later of `createdAt` and `resumedAt`; no earlier slot is owed to the job.
    Instant earliestEligible() const;
    // None when paused; otherwise the schedule's next fire time in `timeZone()`.
    std::optional<Instant> nextRun(Instant after) const;
    // As `nextRun`, ignoring `isPaused`.
    std::optional<Instant> nextRunIfResumed(Instant after) const;
    // Empty when paused; otherwise up to `count` successive fire times.
    std::vector<Instant> nextRuns(std::int64_t count, Instant after) const;
    // The defaults with this job's time limit, when it overrides one.
    RunLimits effectiveLimits(const RunLimits& defaults) const;
    bool hasOverriddenLimits() const { return limitOverrides.timeoutSeconds.has_value(); }
    // Un-pausing (false) also stamps `resumedAt` with `now`, even if not paused.
    void setPaused(bool paused, Instant now);
    // The permission's title; for scoped write in a folder holding a ".git" entry
    // (folder or file), its repository title. Tests the file system on each call.
    std::string permissionTitle() const;

    friend bool operator==(const Job&, const Job&) = default;
};

} // namespace marrowbell
