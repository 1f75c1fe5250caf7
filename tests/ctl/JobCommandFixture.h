#pragma once

#include "base/Files.h"
#include "base/Json.h"
#include "job/JobStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell::test {

// marrowbellctl run with its support folder in a temporary data folder, and a project
// folder for jobs to work in.
class JobCommandFixture : public testing::Test {
protected:
    TempDir data;
    TempDir project;
    std::vector<std::string> environment{"XDG_DATA_HOME=" + data.path().string(), "TZ=UTC"};

    ProcessResult ctl(std::vector<std::string> arguments, const std::string& input = "") {
        arguments.insert(arguments.begin(), builtBinary("marrowbellctl").string());
        return runProcess(arguments, input, environment);
    }

    std::filesystem::path supportFolder() const { return data / "Marrowbell"; }
    std::filesystem::path jobsFolder() const { return data / "Marrowbell/Jobs"; }

    std::vector<Job> storedJobs() const {
        if (!std::filesystem::exists(jobsFolder()))
            return {};
        return JobStore(jobsFolder()).jobs();
    }

    Job makeJob(const std::string& name, const std::string& cron = "0 9 * * *") const {
        return Job{.id = Uuid::random(),
                   .name = name,
                   .prompt = "Tidy the changelog",
                   .workingDirectory = FileUrl::fromPath(project.path(), true),
                   .harnessID = "claude",
                   .endpointID = {},
                   .model = {},
                   .skills = {},
                   .permission = PermissionLevel::readOnly,
                   .schedule = CronExpression(cron),
                   .timeZoneIdentifier = "UTC",
                   .isPaused = false,
                   .limitOverrides = {},
                   .offlinePolicy = OfflinePolicy::skipAndNotify,
                   .createdAt = Instant{800000000},
                   .resumedAt = {}};
    }

    Job saved(const Job& job) const {
        JobStore(jobsFolder()).save(job);
        return job;
    }
};

} // namespace marrowbell::test
