#include "JobCommandFixture.h"

#include <cmath>

namespace marrowbell {
namespace {

namespace fs = std::filesystem;

using CtlJobChange = test::JobCommandFixture;

TEST_F(CtlJobChange, PauseKeepsResumeTimeAndResumeStampsIt) {
    Job job = projectJob("Changelog");
    job.resumedAt = Instant{800000500};
    saved(job);

    auto paused = ctl({"pause", "changelog"});
    ASSERT_EQ(paused.exitStatus, 0) << paused.err;
    EXPECT_EQ(paused.out, "Paused \u201CChangelog\u201D.\n");
    Job stored = storedJobs().front();
    EXPECT_TRUE(stored.isPaused);
    EXPECT_EQ(stored.resumedAt, Instant{800000500});

    auto resumed = ctl({"resume", job.id.text()});
    ASSERT_EQ(resumed.exitStatus, 0) << resumed.err;
    EXPECT_EQ(resumed.out.rfind("Resumed \u201CChangelog\u201D. Next run: 20", 0), 0u)
        << resumed.out;
    stored = storedJobs().front();
    EXPECT_FALSE(stored.isPaused);
    ASSERT_TRUE(stored.resumedAt);
    EXPECT_LT(std::fabs(Instant::now() - *stored.resumedAt), 60);
}

TEST_F(CtlJobChange, NoChangeNeededWritesNothing) {
    Job active = saved(projectJob("Active"));
    Job paused = projectJob("Paused");
    paused.isPaused = true;
    saved(paused);
    const auto activeBytes = files::read(jobsFolder() / (active.id.text() + ".json"));
    const auto pausedBytes = files::read(jobsFolder() / (paused.id.text() + ".json"));

    auto result = ctl({"resume", "Active"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "\u201CActive\u201D is not paused.\n");
    result = ctl({"pause", "Paused"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "\u201CPaused\u201D is already paused.\n");

    // Resuming an active job would move its resume time and drop a run it is owed.
    EXPECT_EQ(files::read(jobsFolder() / (active.id.text() + ".json")), activeBytes);
    EXPECT_EQ(files::read(jobsFolder() / (paused.id.text() + ".json")), pausedBytes);
}

TEST_F(CtlJobChange, DeleteRemovesOnlyThatJobsFile) {
    Job gone = saved(projectJob("Gone"));
    Job kept = saved(projectJob("Kept"));
    auto result = ctl({"delete", "Gone"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "Deleted \u201CGone\u201D (" + gone.id.text() + ").\n");
    EXPECT_FALSE(fs::exists(jobsFolder() / (gone.id.text() + ".json")));
    auto jobs = storedJobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs.front().id, kept.id);
}

// Ambiguous names are NameLookup's (its tests); here each command's refusal wiring.
TEST_F(CtlJobChange, UnknownJobIsAUsageError) {
    for (const char* command : {"pause", "resume", "delete"}) {
        auto result = ctl({command, "Nothing"});
        EXPECT_EQ(result.exitStatus, 2) << command;
        EXPECT_NE(result.err.find("no job is named or identified by \u201CNothing\u201D"),
                  std::string::npos)
            << result.err;
        EXPECT_FALSE(fs::exists(supportFolder())) << command;
        EXPECT_EQ(ctl({command}).exitStatus, 2) << command;
    }
}

} // namespace
} // namespace marrowbell
