#include "job/BulkPause.h"
#include "job/JobOrder.h"
#include "support/JobFixture.h"

namespace marrowbell {
namespace {

using test::makeJob;

Job paused(Job job) {
    job.isPaused = true;
    return job;
}

std::vector<std::string> names(const std::vector<Job>& jobs) {
    std::vector<std::string> out;
    for (const Job& job : jobs)
        out.push_back(job.name);
    return out;
}

// Which action the button offers, whether it is enabled and the time a resume takes: the
// panel's bulk button tests.
TEST(BulkPause, ChangesOnlyTheJobsNotYetInTheTargetState) {
    Job a = makeJob("A"), b = paused(makeJob("B")), c = makeJob("C");
    EXPECT_EQ(names(changes(BulkPause::pauseAll, {a, b, c}, Instant{99})),
              (std::vector<std::string>{"A", "C"}));
    EXPECT_EQ(names(changes(BulkPause::resumeAll, {a, b, c}, Instant{99})),
              std::vector<std::string>{"B"});
    EXPECT_TRUE(changes(BulkPause::nothingToDo, {a, b}, Instant{99}).empty());
}

// Running first, then soonest next run, then names as a file browser sorts them; equal
// jobs keep their order. 2026-06-01 12:00 UTC.
TEST(JobOrder, RunningFirstThenSoonestThenNumericNameThenInputOrder) {
    Job running = makeJob("Running tomorrow", "0 9 * * *");
    Job second = makeJob("job 2", "0 13 * * *");
    second.prompt = "second";
    auto ordered =
        JobOrder::active({makeJob("Never", "0 0 31 2 *"), makeJob("Job 10", "0 13 * * *"),
                          paused(makeJob("Paused", "* * * * *")), makeJob("Soon", "* * * * *"),
                          makeJob("Job 2", "0 13 * * *"), second, running},
                         {running.id}, *TimeZone::utc().instant({2026, 6, 1, 12, 0}));
    EXPECT_EQ(names(ordered), (std::vector<std::string>{"Running tomorrow", "Soon", "Job 2",
                                                        "job 2", "Job 10", "Never"}));
    EXPECT_EQ(ordered[3].prompt, "second");
    EXPECT_TRUE(JobOrder::nameComesBefore("Job 2", "Job 10"));
    EXPECT_FALSE(JobOrder::nameComesBefore("Job 10", "Job 2"));
    EXPECT_TRUE(JobOrder::nameComesBefore("apple", "Banana"));
    EXPECT_FALSE(JobOrder::nameComesBefore("ABC", "abc"));
    EXPECT_FALSE(JobOrder::nameComesBefore("abc", "ABC"));
    // Invalid UTF-8 compares without crashing.
    JobOrder::nameComesBefore("\xff\xfe", "abc");
}

} // namespace
} // namespace marrowbell
