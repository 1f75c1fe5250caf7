#include "ctl/SchedulerCommandSupport.h"

namespace marrowbell {
namespace {

namespace fs = std::filesystem;
using CtlEdit = test::CtlTest;

// What the options do not name stays as it was (JobDraft::editing's rule, its tests);
// here the options' way in, the summary of changes and the job kept in its one file.
TEST_F(CtlEdit, ChangesWhatIsGivenAndNothingElse) {
    Job job = this->job("Changelog", Instant{800000000}, "0 9 * * *");
    job.isPaused = true;
    job.skills = {"lint"};
    saved(job);

    auto result = ctl({"edit", "changelog", "--schedule", "*/15 * * * *", "--zone", "Asia/Tokyo",
                       "--prompt-stdin"},
                      "Write the release notes.\n");
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "Changed \u201CChangelog\u201D (" + job.id.text() +
                              "):\n"
                              "  Schedule:   0 9 * * * \u2192 */15 * * * *\n"
                              "  Time zone:  UTC \u2192 Asia/Tokyo\n"
                              "  Prompt:     changed (24 bytes)\n"
                              "  Next run:   paused\n");
    Job expected = job;
    expected.schedule = CronExpression("*/15 * * * *");
    expected.timeZoneIdentifier = "Asia/Tokyo";
    expected.prompt = "Write the release notes.";
    EXPECT_EQ(jobs(), std::vector<Job>{expected});
    EXPECT_EQ(std::distance(fs::directory_iterator(support() / "Jobs"), {}), 1);

    result = ctl({"edit", job.id.text(), "--zone", "Asia/Tokyo"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "Nothing changed: \u201CChangelog\u201D already reads so.\n");
}

} // namespace
} // namespace marrowbell
