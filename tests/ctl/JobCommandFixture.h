#pragma once

#include "base/Files.h"
#include "base/Json.h"
#include "job/JobStore.h"
#include "support/JobFixture.h"
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

    // The shared test job, working in the project folder (which exists, as edits check).
    Job projectJob(const std::string& name, const std::string& cron = "0 9 * * *") const {
        Job job = makeJob(name, cron);
        job.workingDirectory = FileUrl::fromPath(project.path(), true);
        return job;
    }

    Job saved(const Job& job) const {
        JobStore(jobsFolder()).save(job);
        return job;
    }
};

} // namespace marrowbell::test
