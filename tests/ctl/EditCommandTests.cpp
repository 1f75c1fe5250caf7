#include "JobCommandFixture.h"

namespace marrowbell {
namespace {

namespace fs = std::filesystem;

using CtlEdit = test::JobCommandFixture;

TEST_F(CtlEdit, ChangingTheScheduleLeavesEverythingElse) {
    Job job = projectJob("Changelog");
    job.timeZoneIdentifier = "Europe/Berlin";
    job.isPaused = true;
    job.resumedAt = Instant{800000500};
    job.skills = {"lint"};
    job.limitOverrides.timeoutSeconds = 900;
    saved(job);

    auto result = ctl({"edit", "changelog", "--schedule", "*/15 * * * *"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "Changed \u201CChangelog\u201D (" + job.id.text() +
                              "):\n"
                              "  Schedule:   0 9 * * * \u2192 */15 * * * *\n"
                              "  Next run:   paused\n");
    Job expected = job;
    expected.schedule = CronExpression("*/15 * * * *");
    EXPECT_EQ(storedJobs(), std::vector<Job>{expected});
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(jobsFolder()))
        files.push_back(entry.path().filename());
    EXPECT_EQ(files, std::vector<fs::path>{job.id.text() + ".json"});
}

TEST_F(CtlEdit, ARefusedEditChangesNothing) {
    Job job = saved(projectJob("Changelog"));
    const auto before = files::read(jobsFolder() / (job.id.text() + ".json"));
    auto result = ctl({"edit", "Changelog", "--name", "Renamed", "--schedule", "61 * * * *",
                       "--zone", "Europe/Atlantis", "--prompt-stdin"},
                      "never read\n");
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("The minute field does not accept \"61\"."), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("no time zone is called \u201CEurope/Atlantis\u201D"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(files::read(jobsFolder() / (job.id.text() + ".json")), before);
    EXPECT_EQ(ctl({"edit", "Changelog", "--model", "m", "--no-model"}).exitStatus, 2);
    EXPECT_EQ(ctl({"edit", "Changelog"}).exitStatus, 2);
}

TEST_F(CtlEdit, PromptAndZoneComeInAsGiven) {
    Job job = saved(projectJob("Changelog"));
    auto result = ctl({"edit", job.id.text(), "--zone", "Asia/Tokyo", "--prompt-stdin"},
                      "Write the release notes.\n");
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_NE(result.out.find("  Time zone:  UTC \u2192 Asia/Tokyo\n"), std::string::npos)
        << result.out;
    const Job stored = storedJobs().front();
    EXPECT_EQ(stored.prompt, "Write the release notes.");
    EXPECT_EQ(stored.timeZoneIdentifier, "Asia/Tokyo");
    EXPECT_EQ(stored.createdAt, job.createdAt);

    result = ctl({"edit", "Changelog", "--zone", "Asia/Tokyo"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "Nothing changed: \u201CChangelog\u201D already reads so.\n");
}

} // namespace
} // namespace marrowbell
