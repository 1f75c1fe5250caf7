#pragma once

#include "base/FileUrl.h"
#include "base/Instant.h"
#include "base/Uuid.h"
#include "job/Job.h"
#include "job/OfflinePolicy.h"
#include "job/PermissionLevel.h"
#include "service/JobDraft.h"

#include <optional>
#include <set>
#include <string>

namespace marrowbell::app {

// A job as the editor holds it while the user works: a loose copy in which every
// field may be empty or invalid. Turned into a Job only on saving.
struct Draft {
    std::string name;
    std::string prompt;
    std::optional<FileUrl> workingDirectory;
    std::string cron;
    std::string harnessID;
    std::optional<Uuid> endpointID;
    std::string model; // empty: the harness's default
    std::set<std::string> enabledSkills;
    PermissionLevel permission = PermissionLevel::readOnly;
    OfflinePolicy offlinePolicy = OfflinePolicy::skipAndNotify;

    // A new job's draft: the given schedule text and harness, everything else empty.
    static Draft fresh(std::string cron, std::string harnessID);
    // An existing job's fields.
    static Draft of(const Job& job);

    // The job saving makes of this draft, editing `base` (none for a new job): none
    // while the schedule does not parse or no folder is chosen. Identifier, zone, pause
    // state, limit overrides and times come from `base`; "Untitled job" for an empty
    // name; the model as typed; skills in plain text order.
    std::optional<Job> job(const std::optional<Job>& base, Instant now) const;
    // The same draft for the checks every front end shares.
    JobDraft checkable(const std::optional<Job>& base) const;

    // What the command preview depends on: harness, model, permission, endpoint,
    // folder and skills, joined by "|".
    std::string commandKey() const;
    // What the offered models depend on: "{harness}|{endpoint or empty}".
    std::string modelsKey() const;

    friend bool operator==(const Draft&, const Draft&) = default;
};

} // namespace marrowbell::app
