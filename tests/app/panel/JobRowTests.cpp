// What a job's row says: its dot, next text, subtitle and tooltip.
#include "job/JobTestSupport.h"
#include "panel/JobRow.h"
#include "support/TestSupport.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

using State = StatusDot::State;

// Monday 7 December 2026, 12:00 UTC.
const Instant monday = Instant::fromUnix(1796644800);

RunRecord record(std::int32_t exitCode = 0) {
    RunRecord run;
    run.startedAt = monday - 600;
    run.exitCode = exitCode;
    return run;
}

class JobRowTest : public testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    test::ScopedEnv zone{"TZ", "UTC"};
};

struct DotCase {
    const char* rule;
    bool running;
    bool paused;
    std::optional<RunRecord> lastRun;
    State expected;
};

class StatusDotRule : public testing::TestWithParam<DotCase> {};

TEST_P(StatusDotRule, FirstRuleThatAppliesWins) {
    const auto& c = GetParam();
    EXPECT_EQ(StatusDot::state(c.running, c.paused, c.lastRun), c.expected) << c.rule;
}

RunRecord cancelledWithFailure() {
    RunRecord run = record(143);
    run.wasCancelled = true;
    run.failureMessage = "Cancelled.";
    return run;
}
RunRecord timedOut() {
    RunRecord run = record();
    run.timedOut = true;
    return run;
}
RunRecord skipped() {
    RunRecord run = record();
    run.failureMessage = "Skipped: the computer was asleep at 9:00 AM.";
    return run;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, StatusDotRule,
    testing::Values(
        DotCase{"running beats paused and a failure", true, true, record(1), State::running},
        DotCase{"paused beats the last run", false, true, record(1), State::paused},
        DotCase{"no record", false, false, std::nullopt, State::neverRun},
        DotCase{"cancelled beats its exit code", false, false, cancelledWithFailure(),
                State::cancelled},
        DotCase{"non-zero exit", false, false, record(2), State::failed},
        DotCase{"timed out with exit 0", false, false, timedOut(), State::failed},
        DotCase{"a skip carries a failure message", false, false, skipped(), State::failed},
        DotCase{"clean run", false, false, record(), State::succeeded}));

struct NextCase {
    const char* cron;
    bool paused;
    bool running;
    const char* expected;
};

class NextText : public JobRowTest, public testing::WithParamInterface<NextCase> {};

TEST_P(NextText, SaysWhenTheJobRunsNext) {
    const auto& c = GetParam();
    Job job = test::makeJob("Nightly review", c.cron, monday - 86400);
    job.isPaused = c.paused;
    EXPECT_EQ(JobRow::make(job, c.running, std::nullopt, monday).next.toStdString(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, NextText,
    testing::Values(NextCase{"5 14 * * *", false, true, "running"},
                    NextCase{"5 14 * * *", false, false, "in 2h 5m"},
                    NextCase{"0 0 30 2 *", false, false, "paused"}, // never fires
                    NextCase{"0 9 * * 2", true, false, "paused · Tue 9:00 AM"},
                    NextCase{"0 9 1 1 *", true, false, "paused · 1 Jan 9:00 AM"},
                    NextCase{"0 0 30 2 *", true, false, "paused"}));

TEST_F(JobRowTest, PausedJobShowsNoPermissionLabel) {
    Job job = test::makeJob();
    job.permission = PermissionLevel::fullAccess;
    JobRow active = JobRow::make(job, false, std::nullopt, monday);
    job.isPaused = true;
    JobRow paused = JobRow::make(job, false, std::nullopt, monday);

    EXPECT_EQ(active.subtitle().toStdString(), "Daily 9:00 AM · full access");
    EXPECT_TRUE(active.fullAccess);
    EXPECT_EQ(paused.subtitle().toStdString(), "Daily 9:00 AM");
}

TEST_F(JobRowTest, TooltipOfAPausedJobThatWouldRunAndWhoseLastRunWasSkipped) {
    Job job = test::makeJob("Nightly review", "*/15 9-17 * * 1-5");
    job.isPaused = true;
    JobRow row = JobRow::make(job, false, skipped(), monday);
    EXPECT_EQ(row.dot, State::paused);
    EXPECT_EQ(row.helpText.toStdString(), "*/15 9-17 * * 1-5\n"
                                          "May touch: Look, don't touch (read-only)\n"
                                          "Resuming would run it Mon 7 Dec, 12:15 PM\n"
                                          "Last run: Skipped: the computer was asleep at 9:00 AM.");
}

TEST_F(JobRowTest, TooltipOfAnActiveJobThatSucceeded) {
    JobRow row = JobRow::make(test::makeJob(), false, record(), monday);
    EXPECT_EQ(row.helpText.toStdString(),
              "0 9 * * *\nMay touch: Look, don't touch (read-only)\nLast run: Succeeded");
}

} // namespace
} // namespace marrowbell::app
