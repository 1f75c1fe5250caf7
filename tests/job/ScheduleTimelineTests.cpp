#include "job/ScheduleTimeline.h"
#include "support/JobFixture.h"

#include <gtest/gtest.h>
#include <set>

namespace marrowbell {
namespace {

using test::makeJob;

Instant utc(int day, int hour, int minute) {
    return *TimeZone::utc().instant(
        {.year = 2026, .month = 3, .day = day, .hour = hour, .minute = minute});
}

const Instant midnight = utc(2, 0, 0);

ScheduleTimeline dayOf(const std::vector<Job>& jobs, Instant start = midnight,
                       std::int64_t limit = 48) {
    return ScheduleTimeline::upcoming(jobs, start, 24, limit);
}

ScheduleTimeline::Mark markAt(Instant date) {
    return {Uuid::random(), Uuid::random(), "Job", date};
}

// Paused and never-firing jobs add nothing.
TEST(ScheduleTimeline, MarksFallInTheWindowWithItsEndUpToTheLimitPerJob) {
    const Job job = makeJob("Half-hourly", "*/30 * * * *");
    const ScheduleTimeline timeline = dayOf({job});
    ASSERT_EQ(timeline.marks.size(), 48u);
    EXPECT_EQ(timeline.start, midnight);
    EXPECT_EQ(timeline.duration(), 86400);
    EXPECT_EQ(timeline.marks.front().date, midnight + 1800);
    EXPECT_EQ(timeline.marks.back().date, timeline.end);
    EXPECT_EQ(timeline.marks[7].jobID, job.id);
    const ScheduleTimeline capped = dayOf({makeJob("Quarterly", "*/15 * * * *")}, midnight, 3);
    ASSERT_EQ(capped.marks.size(), 3u);
    EXPECT_EQ(capped.marks.back().date, midnight + 45 * 60);
    EXPECT_TRUE(dayOf({job}, midnight, 0).isEmpty());
    Job paused = makeJob("Paused", "* * * * *");
    paused.isPaused = true;
    EXPECT_TRUE(dayOf({paused, makeJob("Leap day only", "0 0 30 2 *")}).isEmpty());
}

TEST(ScheduleTimeline, MarksAreSortedSimultaneousOnesKeepJobOrderAndEachJobHasItsZone) {
    Job newYork = makeJob("New York", "0 9 * * *"), tokyo = makeJob("Tokyo", "0 9 * * *");
    newYork.timeZoneIdentifier = "America/New_York";
    tokyo.timeZoneIdentifier = "Asia/Tokyo";
    // 09:00 in New York is 14:00 UTC; in Tokyo midnight UTC: the start is left out, the
    // end kept.
    const ScheduleTimeline timeline = dayOf(
        {makeJob("Evening", "0 6,18 * * *"), makeJob("B at 14", "0 14 * * *"), newYork, tokyo});
    std::vector<std::string> names;
    for (const auto& mark : timeline.marks)
        names.push_back(mark.jobName);
    EXPECT_EQ(names,
              (std::vector<std::string>{"Evening", "B at 14", "New York", "Evening", "Tokyo"}));
    EXPECT_EQ(timeline.marks[2].date, utc(2, 14, 0));
    EXPECT_EQ(timeline.marks[4].date, midnight + 86400);
}

TEST(ScheduleTimeline, MarkIdentitiesAreFreshOnEveryBuild) {
    const std::vector<Job> jobs{makeJob("Hourly", "0 * * * *")};
    std::set<std::string> ids;
    for (const ScheduleTimeline& timeline : {dayOf(jobs), dayOf(jobs)})
        for (const auto& mark : timeline.marks)
            ids.insert(mark.id.text());
    EXPECT_EQ(ids.size(), 48u);
}

TEST(ScheduleTimeline, PositionIsTheClampedFractionOfTheWindow) {
    const ScheduleTimeline timeline{midnight, midnight + 86400, {}};
    EXPECT_DOUBLE_EQ(timeline.position(markAt(midnight + 6 * 3600)), 0.25);
    EXPECT_DOUBLE_EQ(timeline.position(markAt(midnight - 60)), 0.0);
    EXPECT_DOUBLE_EQ(timeline.position(markAt(midnight + 2 * 86400)), 1.0);
    EXPECT_EQ((ScheduleTimeline{midnight, midnight, {}}).position(markAt(midnight + 60)), 0.0);
    EXPECT_EQ((ScheduleTimeline{midnight, midnight - 60, {}}).position(markAt(midnight - 30)), 0.0);
}

TEST(ScheduleTimeline, ImminentKeepsMarksUpToTheBoundInclusive) {
    const ScheduleTimeline timeline = dayOf({makeJob("Every 20", "*/20 * * * *")});
    const auto soon = timeline.imminent(3600);
    ASSERT_EQ(soon.size(), 3u); // 00:20, 00:40, 01:00
    EXPECT_EQ(soon.back().date, midnight + 3600);
    EXPECT_TRUE(timeline.imminent(0).empty());
}

TEST(ScheduleTimeline, SummaryCountsRunsAndThoseWithinTheHourWhateverTheWindow) {
    auto summary = [](std::vector<Seconds> offsets) {
        ScheduleTimeline timeline{midnight, midnight + 86400, {}};
        for (Seconds offset : offsets)
            timeline.marks.push_back(markAt(midnight + offset));
        return timeline.summary();
    };
    EXPECT_EQ(summary({}), "Nothing scheduled in the next 24 hours");
    EXPECT_EQ(summary({1800}), "Next 24 hours · 1 run, 1 within the hour");
    EXPECT_EQ(summary({7200}), "Next 24 hours · 1 run");
    EXPECT_EQ(summary({60, 3600, 3601, 80000}), "Next 24 hours · 4 runs, 2 within the hour");
    EXPECT_EQ(
        ScheduleTimeline::upcoming({makeJob("Hourly", "0 * * * *")}, midnight, 2, 48).summary(),
        "Next 24 hours · 2 runs, 1 within the hour");
}

TEST(ScheduleTimelineGrid, LabelsTheHoursInTheZoneAndLocaleInCapitals) {
    const ScheduleTimeline timeline = dayOf({}, utc(2, 14, 10));
    using Label = ScheduleTimeline::GridLabel;
    EXPECT_EQ(timeline.gridLabels(4, "en_US", TimeZone::utc()),
              (std::vector<Label>{
                  {0, "NOW"}, {0.25, "8 PM"}, {0.5, "2 AM"}, {0.75, "8 AM"}, {1, "2 PM"}}));
    // Five hours behind UTC in March before daylight saving starts.
    const auto newYork = timeline.gridLabels(4, "en_US", *TimeZone::named("America/New_York"));
    ASSERT_EQ(newYork.size(), 5u);
    EXPECT_EQ(newYork[4].title, "9 AM");
    // Spanish writes its day periods in lower case ("p. m."); the grid shows capitals.
    for (const auto& label : timeline.gridLabels(2, "es_ES", TimeZone::utc())) {
        std::string upper = label.title;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(label.title, upper);
    }
    EXPECT_TRUE(timeline.gridLabels(0, "en_US", TimeZone::utc()).empty());
    EXPECT_EQ(timeline.gridLabels(1, "en_US", TimeZone::utc()).size(), 2u);
    EXPECT_TRUE(
        (ScheduleTimeline{midnight, midnight, {}}).gridLabels(4, "en_US", TimeZone::utc()).empty());
}

} // namespace
} // namespace marrowbell
