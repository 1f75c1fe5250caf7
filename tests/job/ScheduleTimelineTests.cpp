#include "job/ScheduleTimeline.h"
#include "support/JobFixture.h"

#include <gtest/gtest.h>
#include <set>

namespace marrowbell {
namespace {

using test::makeJob;

Instant utc(int year, int month, int day, int hour, int minute) {
    return *TimeZone::utc().instant(
        {.year = year, .month = month, .day = day, .hour = hour, .minute = minute});
}

const Instant midnight = utc(2026, 3, 2, 0, 0);

ScheduleTimeline dayOf(const std::vector<Job>& jobs, Instant start = midnight,
                       std::int64_t limit = 48) {
    return ScheduleTimeline::upcoming(jobs, start, 24, limit);
}

TEST(ScheduleTimeline, LimitPerJobCutsAFrequentScheduleShort) {
    const Job job = makeJob("Quarterly", "*/15 * * * *");
    const ScheduleTimeline timeline = dayOf({job});
    ASSERT_EQ(timeline.marks.size(), 48u);
    EXPECT_EQ(timeline.marks.front().date, midnight + 15 * 60);
    EXPECT_EQ(timeline.marks.back().date, midnight + 12 * 3600);
    for (const auto& mark : timeline.marks) {
        EXPECT_EQ(mark.jobID, job.id);
        EXPECT_EQ(mark.jobName, "Quarterly");
    }
}

TEST(ScheduleTimeline, WindowIncludesItsEndButNotItsStart) {
    const ScheduleTimeline timeline = dayOf({makeJob("Half-hourly", "*/30 * * * *")});
    ASSERT_EQ(timeline.marks.size(), 48u);
    EXPECT_EQ(timeline.start, midnight);
    EXPECT_EQ(timeline.end, midnight + 86400);
    EXPECT_EQ(timeline.marks.front().date, midnight + 1800);
    EXPECT_EQ(timeline.marks.back().date, timeline.end);
    EXPECT_EQ(timeline.duration(), 86400);
}

TEST(ScheduleTimeline, PausedAndNeverFiringJobsContributeNothing) {
    Job paused = makeJob("Paused", "* * * * *");
    paused.isPaused = true;
    const ScheduleTimeline timeline = dayOf({paused, makeJob("Leap day only", "0 0 30 2 *")});
    EXPECT_TRUE(timeline.isEmpty());
    EXPECT_EQ(timeline.summary(), "Nothing scheduled in the next 24 hours");
}

TEST(ScheduleTimeline, NoMarksWhenTheLimitIsBelowOne) {
    EXPECT_TRUE(dayOf({makeJob("Hourly", "0 * * * *")}, midnight, 0).isEmpty());
}

TEST(ScheduleTimeline, MarksAreSortedAndSimultaneousOnesKeepJobOrder) {
    const Job late = makeJob("B at nine", "0 9 * * *");
    const Job early = makeJob("A at nine", "0 9 * * *");
    const Job evening = makeJob("Evening", "0 6,18 * * *");
    const ScheduleTimeline timeline = dayOf({evening, late, early});
    std::vector<std::string> names;
    for (const auto& mark : timeline.marks)
        names.push_back(mark.jobName);
    EXPECT_EQ(names, (std::vector<std::string>{"Evening", "B at nine", "A at nine", "Evening"}));
    EXPECT_EQ(timeline.marks[1].date, timeline.marks[2].date);
}

TEST(ScheduleTimeline, EachJobIsReadInItsOwnZone) {
    Job newYork = makeJob("New York morning", "0 9 * * *");
    newYork.timeZoneIdentifier = "America/New_York";
    Job tokyo = makeJob("Tokyo morning", "0 9 * * *");
    tokyo.timeZoneIdentifier = "Asia/Tokyo";
    const ScheduleTimeline timeline = dayOf({newYork, tokyo});
    // Tokyo's 9:00 is midnight UTC: the start itself is excluded, the end included.
    ASSERT_EQ(timeline.marks.size(), 2u);
    EXPECT_EQ(timeline.marks[0].jobName, "New York morning"); // 14:00 UTC (EST)
    EXPECT_EQ(timeline.marks[0].date, utc(2026, 3, 2, 14, 0));
    EXPECT_EQ(timeline.marks[1].jobName, "Tokyo morning");
    EXPECT_EQ(timeline.marks[1].date, midnight + 86400);
}

TEST(ScheduleTimeline, MarkIdentitiesAreFreshOnEveryBuild) {
    const std::vector<Job> jobs{makeJob("Hourly", "0 * * * *")};
    const ScheduleTimeline first = dayOf(jobs);
    const ScheduleTimeline second = dayOf(jobs);
    std::set<std::string> ids;
    for (const auto* timeline : {&first, &second})
        for (const auto& mark : timeline->marks)
            ids.insert(mark.id.text());
    EXPECT_EQ(ids.size(), first.marks.size() + second.marks.size());
    EXPECT_NE(first, second);
}

TEST(ScheduleTimeline, PositionIsTheClampedFractionOfTheWindow) {
    const ScheduleTimeline timeline{midnight, midnight + 86400, {}};
    const auto at = [&](Instant date) {
        return timeline.position({Uuid::random(), Uuid::random(), "Job", date});
    };
    EXPECT_DOUBLE_EQ(at(midnight + 6 * 3600), 0.25);
    EXPECT_DOUBLE_EQ(at(midnight - 60), 0.0);
    EXPECT_DOUBLE_EQ(at(midnight + 2 * 86400), 1.0);

    const ScheduleTimeline empty{midnight, midnight, {}};
    EXPECT_EQ(empty.position({Uuid::random(), Uuid::random(), "Job", midnight + 60}), 0.0);
    const ScheduleTimeline backwards{midnight, midnight - 60, {}};
    EXPECT_EQ(backwards.position({Uuid::random(), Uuid::random(), "Job", midnight - 30}), 0.0);
}

TEST(ScheduleTimeline, ImminentKeepsMarksUpToTheBoundInclusive) {
    const ScheduleTimeline timeline = dayOf({makeJob("Every 20", "*/20 * * * *")});
    const auto soon = timeline.imminent(3600);
    ASSERT_EQ(soon.size(), 3u); // 00:20, 00:40, 01:00
    EXPECT_EQ(soon.back().date, midnight + 3600);
    EXPECT_TRUE(timeline.imminent(0).empty());
}

struct SummaryCase {
    std::vector<Seconds> offsets; // of each mark from the start
    std::string expected;
};

class ScheduleTimelineSummary : public testing::TestWithParam<SummaryCase> {};

TEST_P(ScheduleTimelineSummary, CountsRunsAndThoseWithinTheHour) {
    ScheduleTimeline timeline{midnight, midnight + 86400, {}};
    for (Seconds offset : GetParam().offsets)
        timeline.marks.push_back({Uuid::random(), Uuid::random(), "Job", midnight + offset});
    EXPECT_EQ(timeline.summary(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScheduleTimelineSummary,
                         testing::Values(SummaryCase{{1800},
                                                     "Next 24 hours · 1 run, 1 within the hour"},
                                         SummaryCase{{7200}, "Next 24 hours · 1 run"},
                                         SummaryCase{{60, 3600, 3601, 5000, 9000, 20000, 80000},
                                                     "Next 24 hours · 7 runs, 2 within the hour"}));

TEST(ScheduleTimeline, SummarySaysTwentyFourHoursWhateverTheWindow) {
    const ScheduleTimeline timeline =
        ScheduleTimeline::upcoming({makeJob("Hourly", "0 * * * *")}, midnight, 2, 48);
    EXPECT_EQ(timeline.summary(), "Next 24 hours · 2 runs, 1 within the hour");
}

TEST(ScheduleTimelineGrid, LabelsTheHoursInTheZoneAndLocale) {
    const ScheduleTimeline timeline = dayOf({}, utc(2026, 3, 2, 14, 10));
    using Label = ScheduleTimeline::GridLabel;
    EXPECT_EQ(timeline.gridLabels(4, "en_US", TimeZone::utc()),
              (std::vector<Label>{
                  {0, "NOW"}, {0.25, "8 PM"}, {0.5, "2 AM"}, {0.75, "8 AM"}, {1, "2 PM"}}));
    // Five hours behind UTC in March before daylight saving starts.
    const auto newYork = timeline.gridLabels(4, "en_US", *TimeZone::named("America/New_York"));
    ASSERT_EQ(newYork.size(), 5u);
    EXPECT_EQ(newYork[1].title, "3 PM");
    EXPECT_EQ(newYork[4].title, "9 AM");
}

TEST(ScheduleTimelineGrid, MarkerIsUpperCasedInTheLocale) {
    // Spanish writes its day periods in lower case ("p. m."); the grid shows capitals.
    const ScheduleTimeline timeline = dayOf({}, utc(2026, 3, 2, 14, 10));
    for (const auto& label : timeline.gridLabels(2, "es_ES", TimeZone::utc())) {
        std::string upper = label.title;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(label.title, upper);
    }
}

TEST(ScheduleTimelineGrid, NoLabelsWithoutCountOrWindow) {
    const ScheduleTimeline timeline = dayOf({});
    EXPECT_TRUE(timeline.gridLabels(0, "en_US", TimeZone::utc()).empty());
    const ScheduleTimeline empty{midnight, midnight, {}};
    EXPECT_TRUE(empty.gridLabels(4, "en_US", TimeZone::utc()).empty());
    EXPECT_EQ(timeline.gridLabels(1, "en_US", TimeZone::utc()).size(), 2u);
}

} // namespace
} // namespace marrowbell
