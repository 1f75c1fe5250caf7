#include "ctl/SchedulerCommandSupport.h"

#include <cmath>

namespace marrowbell {
namespace {

namespace fs = std::filesystem;
using CtlJobChange = test::CtlTest;

// Pause keeps the resume time, resume stamps it; asked for what is already so, neither
// writes (resuming an active job would move its resume time and drop a run it is owed).
// Delete removes only that job's file.
TEST_F(CtlJobChange, PauseResumeAndDeleteChangeOnlyWhatNeedsChanging) {
    Job job = this->job("Changelog");
    job.resumedAt = Instant{800000500};
    saved(job);

    auto result = ctl({"resume", "Changelog"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "\u201CChangelog\u201D is not paused.\n");
    EXPECT_EQ(jobs().front().resumedAt, Instant{800000500});

    result = ctl({"pause", "changelog"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "Paused \u201CChangelog\u201D.\n");
    EXPECT_TRUE(jobs().front().isPaused);
    EXPECT_EQ(jobs().front().resumedAt, Instant{800000500});
    const auto pausedBytes = files::read(jobFile(job));
    result = ctl({"pause", "Changelog"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "\u201CChangelog\u201D is already paused.\n");
    EXPECT_EQ(files::read(jobFile(job)), pausedBytes);

    result = ctl({"resume", job.id.text()});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_THAT(result.out, StartsWith("Resumed \u201CChangelog\u201D. Next run: 20"));
    const Job stored = jobs().front();
    EXPECT_FALSE(stored.isPaused);
    ASSERT_TRUE(stored.resumedAt);
    EXPECT_LT(std::fabs(Instant::now() - *stored.resumedAt), 60);

    Job gone = saved(this->job("Gone"));
    result = ctl({"delete", "Gone"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "Deleted \u201CGone\u201D (" + gone.id.text() + ").\n");
    EXPECT_FALSE(fs::exists(jobFile(gone)));
    ASSERT_EQ(jobs().size(), 1u);
    EXPECT_EQ(jobs().front().id, job.id);
}

} // namespace
} // namespace marrowbell
