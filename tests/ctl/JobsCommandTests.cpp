#include "base/Files.h"
#include "base/Json.h"
#include "job/JobStore.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

namespace fs = std::filesystem;

class CtlJobs : public testing::Test {
protected:
    test::TempDir data;
    test::TempDir project;

    test::ProcessResult jobs(std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments{test::builtBinary("marrowbellctl").string(), "jobs"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return test::runProcess(arguments, "", {"XDG_DATA_HOME=" + data.path().string(), "TZ=UTC"});
    }

    Job job(const std::string& name, const std::string& cron, double createdAt) {
        Job job = test::makeJob(name, cron, Instant{createdAt});
        job.workingDirectory = FileUrl::fromPath(project.path(), true);
        job.permission = PermissionLevel::scopedWrite;
        job.timeZoneIdentifier = "Europe/Paris";
        return job;
    }
};

TEST_F(CtlJobs, NoStoreMeansNoJobsAndCreatesNothing) {
    auto result = jobs();
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "No jobs.\n");
    EXPECT_FALSE(fs::exists(data / "Marrowbell"));
    EXPECT_EQ(jobs({"--json"}).out, "[]\n");
}

TEST_F(CtlJobs, ListsEveryJobWithScheduleWordsPermissionAndNextRun) {
    JobStore store(data / "Marrowbell/Jobs");
    Job daily = job("Daily digest", "0 8 * * *", 100);
    Job paused = job("Weekly tidy", "0 18 * * 5", 200);
    paused.isPaused = true;
    Job never = job("Leap", "0 0 30 2 *", 300);
    for (const Job& j : {daily, paused, never})
        store.save(j);
    test::writeFile(data / "Marrowbell/Jobs/broken.json", "{");

    auto result = jobs();
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::string& out = result.out;
    auto at = out.find("Daily digest\n  Schedule:   Every day at 8:00 AM (Europe/Paris)\n"
                       "  Permission: Write in this folder only (scoped write)\n  Next run:   20");
    EXPECT_EQ(at, 0u) << out;
    EXPECT_NE(out.find(":00:00+0", at), std::string::npos) << out;
    EXPECT_NE(out.find("Weekly tidy\n  Schedule:   Every Friday at 6:00 PM (Europe/Paris)\n"
                       "  Permission: Write in this folder only (scoped write)\n"
                       "  Next run:   paused\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Leap\n  Schedule:   0 0 30 2 * (Europe/Paris)\n"), std::string::npos);
    EXPECT_NE(out.find("  Next run:   never\n"), std::string::npos);
    EXPECT_EQ(files::read(data / "Marrowbell/Jobs/broken.json"), "{");

    fs::create_directory(project / ".git");
    auto listed = Json::parse(jobs({"--json"}).out);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0]["id"], daily.id.text());
    EXPECT_EQ(listed[0]["permissionTitle"], "Write in a worktree (scoped write)");
    EXPECT_EQ(listed[0]["permission"], "scopedWrite");
    EXPECT_TRUE(listed[0]["nextRun"].is_string());
    EXPECT_EQ(listed[1]["isPaused"], true);
    EXPECT_TRUE(listed[1]["nextRun"].is_null());
    EXPECT_TRUE(listed[2]["nextRun"].is_null());
    EXPECT_EQ(listed[2]["plainEnglish"], "0 0 30 2 *");
}

TEST_F(CtlJobs, PausedAndActiveFilterTheList) {
    Job paused = job("Resting", "0 9 * * *", 1000);
    paused.isPaused = true;
    JobStore store(data / "Marrowbell/Jobs");
    store.save(paused);
    store.save(job("Working", "0 9 * * *", 2000));
    auto result = jobs({"--paused"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_NE(result.out.find("Resting"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("Working"), std::string::npos) << result.out;
    result = jobs({"--active"});
    EXPECT_EQ(result.out.find("Resting"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Working"), std::string::npos) << result.out;
    EXPECT_EQ(jobs({"--paused", "--active"}).exitStatus, 2);
}

TEST_F(CtlJobs, UnknownOptionNamesItAndTheUsage) {
    auto result = jobs({"--all"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.err, "marrowbellctl: jobs: unknown option \u201C--all\u201D\n"
                          "usage:\n"
                          "  marrowbellctl jobs [--paused | --active] [--json]\n");
}

} // namespace
} // namespace marrowbell
