#pragma once

#include "job/Job.h"

#include <string>

namespace marrowbell::test {

// A complete job; tests change what they look at.
inline Job makeJob(const std::string& name = "Nightly review",
                   const std::string& cron = "0 9 * * *", Instant createdAt = Instant{800000000}) {
    return Job{
        .id = Uuid::random(),
        .name = name,
        .prompt = "Review the open pull requests",
        .workingDirectory = FileUrl::fromPath("/home/me/My Project", true),
        .harnessID = "claude",
        .endpointID = std::nullopt,
        .model = std::nullopt,
        .skills = {},
        .permission = PermissionLevel::readOnly,
        .schedule = CronExpression(cron),
        .timeZoneIdentifier = "UTC",
        .isPaused = false,
        .limitOverrides = {},
        .offlinePolicy = OfflinePolicy::skipAndNotify,
        .createdAt = createdAt,
        .resumedAt = std::nullopt,
    };
}

} // namespace marrowbell::test
