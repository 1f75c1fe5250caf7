#include "job/SchedulePlanner.h"
#include "support/JobFixture.h"

#include <gtest/gtest.h>
#include <limits>

using namespace marrowbell;

namespace marrowbell {
void PrintTo(const ScheduleAction& action, std::ostream* out) {
    *out << action.debugText();
}
} // namespace marrowbell

namespace {

// 2026-03-{day} {hour}:{minute} UTC.
Instant at(int day, int hour, int minute, double second = 0) {
    return *TimeZone::utc().instant(LocalDateTime{2026, 3, day, hour, minute, second});
}

Job job(const std::string& cron, Instant createdAt = at(1, 0, 0)) {
    return test::makeJob("Job", cron, createdAt);
}

} // namespace

TEST(SchedulePlanner, PausedJobStaysPausedWhateverItsHistory) {
    Job j = job("* * * * *");
    j.isPaused = true;
    SchedulePlanner planner{900};
    EXPECT_EQ(planner.decide(j, std::nullopt, at(10, 12, 0)), ScheduleAction::paused());
    EXPECT_EQ(planner.decide(j, at(10, 11, 59), at(10, 12, 0)), ScheduleAction::paused());
}

TEST(SchedulePlanner, ScheduleThatNeverFiresIsPaused) {
    EXPECT_EQ(SchedulePlanner{3600}.decide(job("0 0 31 2 *"), std::nullopt, at(10, 12, 0)),
              ScheduleAction::paused());
}

TEST(SchedulePlanner, NoSlotBeforeCreationIsOwed) {
    Job j = job("0 9 * * *", at(10, 9, 30));
    EXPECT_EQ(SchedulePlanner{14400}.decide(j, std::nullopt, at(10, 9, 45)),
              ScheduleAction::wait(at(11, 9, 0)));
}

TEST(SchedulePlanner, LatestMissedSlotRunsWithinTheGraceAndIsSkippedBeyondIt) {
    Job hourly = job("0 * * * *");
    SchedulePlanner planner{900};
    EXPECT_EQ(planner.decide(hourly, at(10, 8, 0), at(10, 12, 10)),
              ScheduleAction::run(at(10, 12, 0)));
    EXPECT_EQ(planner.decide(hourly, at(10, 8, 0), at(10, 12, 20)),
              ScheduleAction::skipMissed(at(10, 12, 0),
                                         "It was due 20m ago, past the 15m catch-up window."));
    // The boundary: exactly the grace still runs, a second more skips.
    EXPECT_EQ(planner.decide(hourly, at(10, 8, 0), at(10, 12, 15)),
              ScheduleAction::run(at(10, 12, 0)));
    EXPECT_TRUE(
        planner.decide(hourly, at(10, 8, 0), at(10, 12, 15, 1)).as<ScheduleAction::SkipMissed>());
}

TEST(SchedulePlanner, ZeroGraceSkipsAnySlotPassedEvenByAFraction) {
    EXPECT_EQ(SchedulePlanner{0}.decide(job("0 * * * *"), at(10, 11, 0), at(10, 12, 0, 0.25)),
              ScheduleAction::skipMissed(at(10, 12, 0),
                                         "It was due 0m ago, past the 0m catch-up window."));
    EXPECT_EQ(SchedulePlanner{0}.decide(job("0 * * * *"), at(10, 11, 0), at(10, 12, 0)),
              ScheduleAction::run(at(10, 12, 0)));
}

TEST(SchedulePlanner, SkipRecordedAtTheSlotMovesTheNextDecisionOn) {
    Job hourly = job("0 * * * *");
    SchedulePlanner planner{900};
    auto skip = planner.decide(hourly, at(10, 8, 0), at(10, 12, 20));
    ASSERT_TRUE(skip.as<ScheduleAction::SkipMissed>());
    Instant slot = skip.as<ScheduleAction::SkipMissed>()->scheduledFor;
    EXPECT_EQ(planner.decide(hourly, slot, at(10, 12, 20)), ScheduleAction::wait(at(10, 13, 0)));
}

TEST(SchedulePlanner, ResumedJobIsOwedOnlySlotsAfterItsResumption) {
    Job hourly = job("0 * * * *");
    hourly.setPaused(true, at(3, 9, 0));
    hourly.setPaused(false, at(10, 14, 0));
    SchedulePlanner planner{3600};
    EXPECT_EQ(planner.decide(hourly, at(3, 9, 0), at(10, 14, 30)),
              ScheduleAction::wait(at(10, 15, 0)));
    EXPECT_EQ(planner.decide(hourly, at(3, 9, 0), at(10, 15, 5)),
              ScheduleAction::run(at(10, 15, 0)));
}

TEST(SchedulePlanner, LastRunAfterNowWaitsForTheSlotAfterIt) {
    // The clock was set back: nothing between now and the last run is owed.
    EXPECT_EQ(SchedulePlanner{900}.decide(job("0 * * * *"), at(10, 18, 0), at(10, 12, 30)),
              ScheduleAction::wait(at(10, 19, 0)));
}

TEST(SchedulePlanner, SlotsAreReadInTheJobsTimeZone) {
    Job j = job("0 9 * * *", at(5, 0, 0));
    j.timeZoneIdentifier = "America/New_York"; // UTC-5 in early March, UTC-4 from the 8th
    SchedulePlanner planner{900};
    EXPECT_EQ(planner.decide(j, std::nullopt, at(5, 12, 0)), ScheduleAction::wait(at(5, 14, 0)));
    EXPECT_EQ(planner.decide(j, at(5, 14, 0), at(10, 13, 10)), ScheduleAction::run(at(10, 13, 0)));
}

TEST(SchedulePlanner, LongLapseOfAnEveryMinuteJobStopsAWeekOfSlotsIn) {
    Job everyMinute = job("* * * * *");
    Instant lastRun = at(1, 0, 0);
    auto action = SchedulePlanner{900}.decide(everyMinute, lastRun, at(12, 0, 0));
    ASSERT_TRUE(action.as<ScheduleAction::SkipMissed>()) << action.debugText();
    EXPECT_EQ(action.as<ScheduleAction::SkipMissed>()->scheduledFor, lastRun + 10081 * 60.0);
    EXPECT_EQ(SchedulePlanner{900}.decide(everyMinute, lastRun, lastRun + 10079 * 60.0 + 30),
              ScheduleAction::run(lastRun + 10079 * 60.0));
}

TEST(SchedulePlanner, NextWakeUpIsTheEarliestNeedAcrossJobs) {
    SchedulePlanner planner{900};
    Instant now = at(10, 12, 30);
    EXPECT_FALSE(planner.nextWakeUp({}, {}, now));

    Job paused = job("* * * * *");
    paused.isPaused = true;
    Job never = job("0 0 31 2 *");
    EXPECT_FALSE(planner.nextWakeUp({paused, never}, {}, now));

    Job daily = job("0 9 * * *");
    Job hourly = job("0 * * * *");
    std::unordered_map<Uuid, Instant> lastRuns{{daily.id, at(10, 9, 0)},
                                               {hourly.id, at(10, 12, 0)}};
    EXPECT_EQ(planner.nextWakeUp({daily, paused, hourly}, lastRuns, now), at(10, 13, 0));

    Job due = job("30 * * * *");
    EXPECT_EQ(planner.nextWakeUp({daily, due, hourly}, lastRuns, now), now)
        << "a job without a last run is due for 12:30";
}

TEST(SchedulePlanner, ReadableDurationsTruncateToTheLargestUnit) {
    const std::pair<double, const char*> cases[] = {
        {0, "0m"},     {59, "0m"},          {59.9, "0m"},  {900, "15m"},
        {3599, "59m"}, {3600, "1h"},        {14400, "4h"}, {86399, "23h"},
        {86400, "1d"}, {8.0 * 86400, "8d"}, {-30, "0m"},
    };
    for (auto [seconds, text] : cases)
        EXPECT_EQ(SchedulePlanner::readable(seconds), text) << seconds;
    // Odd settings values read without undefined conversions.
    EXPECT_EQ(SchedulePlanner::readable(std::numeric_limits<double>::quiet_NaN()), "0m");
    EXPECT_FALSE(SchedulePlanner::readable(std::numeric_limits<double>::infinity()).empty());
}
