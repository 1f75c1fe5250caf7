#include "job/SchedulePlanner.h"
#include "support/JobFixture.h"

#include <gtest/gtest.h>
#include <limits>

namespace marrowbell {
void PrintTo(const ScheduleAction& action, std::ostream* out) {
    *out << action.debugText();
}

namespace {

using A = ScheduleAction;

// 2026-03-{day} {hour}:{minute} UTC.
Instant at(int day, int hour, int minute, double second = 0) {
    return *TimeZone::utc().instant(LocalDateTime{2026, 3, day, hour, minute, second});
}

Job job(const std::string& cron, Instant createdAt = at(1, 0, 0)) {
    return test::makeJob("Job", cron, createdAt);
}

struct Decision {
    const char* name;
    const char* cron;
    Seconds grace;
    std::optional<Instant> lastRun;
    Instant now;
    ScheduleAction expected;
    Instant createdAt = at(1, 0, 0);
    std::optional<Instant> resumedAt = std::nullopt;
    const char* zone = "UTC";
};

// A paused job: the scheduler service's timer tests; a lapse beyond the grace and a
// slot taken by the last run: the scheduler's missed slots test.
class SchedulePlannerDecides : public testing::TestWithParam<Decision> {};

TEST_P(SchedulePlannerDecides, TheLatestOwedSlot) {
    const Decision& d = GetParam();
    Job j = job(d.cron, d.createdAt);
    j.resumedAt = d.resumedAt;
    j.timeZoneIdentifier = d.zone;
    EXPECT_EQ(SchedulePlanner{d.grace}.decide(j, d.lastRun, d.now), d.expected);
}

std::string late(const char* elapsed, const char* grace) {
    return std::string("It was due ") + elapsed + " ago, past the " + grace + " catch-up window.";
}

INSTANTIATE_TEST_SUITE_P(
    Rule, SchedulePlannerDecides,
    testing::Values(Decision{"neverFiresIsPaused", "0 0 31 2 *", 3600, std::nullopt, at(10, 12, 0),
                             A::paused()},
                    Decision{"noSlotBeforeCreation", "0 9 * * *", 14400, std::nullopt,
                             at(10, 9, 45), A::wait(at(11, 9, 0)), at(10, 9, 30)},
                    Decision{"exactlyTheGrace", "0 * * * *", 900, at(10, 8, 0), at(10, 12, 15),
                             A::run(at(10, 12, 0))},
                    Decision{"aSecondPastTheGrace", "0 * * * *", 900, at(10, 8, 0),
                             at(10, 12, 15, 1), A::skipMissed(at(10, 12, 0), late("15m", "15m"))},
                    Decision{"zeroGraceOnTime", "0 * * * *", 0, at(10, 11, 0), at(10, 12, 0),
                             A::run(at(10, 12, 0))},
                    Decision{"zeroGraceByAFraction", "0 * * * *", 0, at(10, 11, 0),
                             at(10, 12, 0, 0.25), A::skipMissed(at(10, 12, 0), late("0m", "0m"))},
                    Decision{"resumedOwesNothingBeforeResuming", "0 * * * *", 3600, at(3, 9, 0),
                             at(10, 14, 30), A::wait(at(10, 15, 0)), at(1, 0, 0), at(10, 14, 0)},
                    Decision{"resumedOwesSlotsAfterResuming", "0 * * * *", 3600, at(3, 9, 0),
                             at(10, 15, 5), A::run(at(10, 15, 0)), at(1, 0, 0), at(10, 14, 0)},
                    // The clock was set back: nothing between now and the last run is owed.
                    Decision{"lastRunAfterNow", "0 * * * *", 900, at(10, 18, 0), at(10, 12, 30),
                             A::wait(at(10, 19, 0))},
                    // UTC-5 in early March, UTC-4 from the 8th.
                    Decision{"inTheJobsZoneBefore", "0 9 * * *", 900, std::nullopt, at(5, 12, 0),
                             A::wait(at(5, 14, 0)), at(5, 0, 0), std::nullopt, "America/New_York"},
                    Decision{"inTheJobsZoneAfter", "0 9 * * *", 900, at(5, 14, 0), at(10, 13, 10),
                             A::run(at(10, 13, 0)), at(5, 0, 0), std::nullopt, "America/New_York"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SchedulePlanner, LongLapseOfAnEveryMinuteJobStopsAWeekOfSlotsIn) {
    Job everyMinute = job("* * * * *");
    Instant lastRun = at(1, 0, 0);
    auto action = SchedulePlanner{900}.decide(everyMinute, lastRun, at(12, 0, 0));
    ASSERT_TRUE(action.as<A::SkipMissed>()) << action.debugText();
    EXPECT_EQ(action.as<A::SkipMissed>()->scheduledFor, lastRun + 10081 * 60.0);
    EXPECT_EQ(SchedulePlanner{900}.decide(everyMinute, lastRun, lastRun + 10079 * 60.0 + 30),
              A::run(lastRun + 10079 * 60.0));
}

TEST(SchedulePlanner, ReadableDurationsTruncateToTheLargestUnit) {
    for (auto [seconds, text] : std::initializer_list<std::pair<double, const char*>>{
             {59.9, "0m"},
             {3599, "59m"},
             {3600, "1h"},
             {86399, "23h"},
             {86400, "1d"},
             {-30, "0m"},
             {std::numeric_limits<double>::quiet_NaN(), "0m"}})
        EXPECT_EQ(SchedulePlanner::readable(seconds), text) << seconds;
    // Odd settings values read without undefined conversions.
    EXPECT_FALSE(SchedulePlanner::readable(std::numeric_limits<double>::infinity()).empty());
}

} // namespace
} // namespace marrowbell
