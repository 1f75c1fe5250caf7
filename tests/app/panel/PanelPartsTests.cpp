// The panel's parts on their own: where it opens, its rows, its list and its strip, and
// how the app's windows are found and lifted.
#include "job/JobTestSupport.h"
#include "panel/JobRow.h"
#include "panel/PopupPlacement.h"
#include "panel/TimelineStrip.h"
#include "panel/WindowLifter.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QLocale>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

using State = StatusDot::State;

const Instant monday = Instant::fromUnix(1796644800); // Mon 7 Dec 2026 12:00 UTC

// Times read in English, in UTC.
class InUTC : public testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    marrowbell::test::ScopedEnv zone{"TZ", "UTC"};
};

struct PlacementCase {
    const char* situation;
    QRect icon;
    std::optional<QPoint> pointer;
    QPoint expected;
};

class PopupPlacement : public testing::TestWithParam<PlacementCase> {};

TEST_P(PopupPlacement, BesideTheIconOrPointerAndWhollyOnScreen) {
    const auto& c = GetParam();
    EXPECT_EQ(popupPosition(QSize(380, 500), QRect(0, 0, 1920, 1080), c.icon, c.pointer),
              c.expected)
        << c.situation;
}

INSTANTIATE_TEST_SUITE_P(
    Situations, PopupPlacement,
    testing::Values(PlacementCase{"icon on a top panel, centred below it", QRect(900, 0, 24, 24),
                                  std::nullopt, QPoint(911 - 190, 28)},
                    PlacementCase{"icon at the right edge: kept on screen", QRect(1890, 0, 24, 24),
                                  std::nullopt, QPoint(1920 - 380, 28)},
                    PlacementCase{"icon on a bottom panel: above it", QRect(100, 1056, 24, 24),
                                  std::nullopt, QPoint(0, 1056 - 4 - 500)},
                    PlacementCase{"unknown icon place: at the pointer", QRect(), QPoint(1500, 10),
                                  QPoint(1500 - 190, 14)},
                    PlacementCase{"nothing known: top-right corner", QRect(), std::nullopt,
                                  QPoint(1920 - 380 - 4, 4)}));

RunRecord record(std::int32_t exitCode = 0, std::function<void(RunRecord&)> shape = {}) {
    RunRecord run;
    run.startedAt = monday - 600;
    run.exitCode = exitCode;
    if (shape)
        shape(run);
    return run;
}
RunRecord skipped() {
    return record(
        0, [](RunRecord& r) { r.failureMessage = "Skipped: the computer was asleep at 9:00 AM."; });
}

struct DotCase {
    const char* rule;
    bool running, paused;
    std::optional<RunRecord> lastRun;
    State expected;
};

class StatusDotRule : public testing::TestWithParam<DotCase> {};

TEST_P(StatusDotRule, FirstRuleThatAppliesWins) {
    const auto& c = GetParam();
    EXPECT_EQ(StatusDot::state(c.running, c.paused, c.lastRun), c.expected) << c.rule;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, StatusDotRule,
    testing::Values(
        DotCase{"running beats paused and a failure", true, true, record(1), State::running},
        DotCase{"paused beats the last run", false, true, record(1), State::paused},
        DotCase{"no record", false, false, std::nullopt, State::neverRun},
        // Cancelled beats its exit code: the panel's Stop run test.
        DotCase{"non-zero exit", false, false, record(2), State::failed},
        DotCase{"timed out with exit 0", false, false,
                record(0, [](RunRecord& r) { r.timedOut = true; }), State::failed},
        DotCase{"a skip carries a failure message", false, false, skipped(), State::failed},
        DotCase{"clean run", false, false, record(), State::succeeded}));

// {cron, paused, text}; "running" is the panel's Run now test.
class NextText : public InUTC,
                 public testing::WithParamInterface<std::tuple<const char*, bool, const char*>> {};

TEST_P(NextText, SaysWhenTheJobRunsNext) {
    const auto& [cron, paused, expected] = GetParam();
    Job job = test::makeJob("Nightly review", cron, monday - 86400);
    job.isPaused = paused;
    EXPECT_EQ(JobRow::make(job, false, std::nullopt, monday).next.toStdString(), expected);
}

INSTANTIATE_TEST_SUITE_P(Rules, NextText,
                         testing::Values(std::tuple("5 14 * * *", false, "in 2h 5m"),
                                         std::tuple("0 9 * * 2", true, "paused · Tue 9:00 AM"),
                                         std::tuple("0 0 30 2 *", true, "paused")));

using JobRowTest = InUTC;

TEST_F(JobRowTest, SubtitleAndTooltip) {
    Job job = test::makeJob();
    job.permission = PermissionLevel::fullAccess;
    const JobRow active = JobRow::make(job, false, std::nullopt, monday);
    EXPECT_EQ(active.subtitle().toStdString(), "Daily 9:00 AM · full access");
    EXPECT_TRUE(active.fullAccess);
    job.isPaused = true; // no permission label
    EXPECT_EQ(JobRow::make(job, false, std::nullopt, monday).subtitle().toStdString(),
              "Daily 9:00 AM");
    EXPECT_EQ(JobRow::make(test::makeJob(), false, record(), monday).helpText.toStdString(),
              "0 9 * * *\nMay touch: Look, don't touch (read-only)\nLast run: Succeeded");
    // Paused, it says when resuming would run it.
    job = test::makeJob("Nightly review", "*/15 9-17 * * 1-5");
    job.isPaused = true;
    JobRow row = JobRow::make(job, false, skipped(), monday);
    EXPECT_EQ(row.dot, State::paused);
    EXPECT_EQ(row.helpText.toStdString(), "*/15 9-17 * * 1-5\n"
                                          "May touch: Look, don't touch (read-only)\n"
                                          "Resuming would run it Mon 7 Dec, 12:15 PM\n"
                                          "Last run: Skipped: the computer was asleep at 9:00 AM.");
}

using TimelineStripTest = InUTC;

TEST_F(TimelineStripTest, TicksStandInProportionToTimeAndRunsWithinTheHourStandOut) {
    TimelineStrip strip;
    strip.resize(424, strip.sizeHint().height());
    // Every two hours from 12:30 to 10:30 the next day: 12:30 falls within the hour,
    // 14:30 beyond it.
    strip.setTimeline(
        ScheduleTimeline::upcoming({test::makeJob("Sweep", "30 */2 * * *")}, monday, 24, 48));
    const auto& marks = strip.timeline().marks;
    ASSERT_EQ(marks.size(), 12u);
    const QRectF soon = strip.tickRect(marks[0]), later = strip.tickRect(marks[1]);
    EXPECT_GT(soon.height(), later.height());
    EXPECT_LT(soon.top(), later.top());
    // Half an hour in is 1/48 of the way; 22.5 hours in is 45/48 of it.
    const double first = soon.center().x(), twoHours = later.center().x() - first;
    const double last = strip.tickRect(marks.back()).center().x();
    EXPECT_NEAR((last - first) / twoHours, (45.0 - 1.0) / 4, 1e-6);
    EXPECT_GT(first, 0);
    EXPECT_LT(last, strip.width());
    EXPECT_EQ(TimelineStrip::tickToolTip(marks[1]).toStdString(), "Sweep — Mon 2:30 PM");
}

// {object name, title, is settings}
class SettingsWindowPredicate
    : public testing::TestWithParam<std::tuple<const char*, const char*, bool>> {};

TEST_P(SettingsWindowPredicate, ByNameInAnyCaseOrByATabTitle) {
    QWidget window;
    window.setObjectName(QString::fromUtf8(std::get<0>(GetParam())));
    window.setWindowTitle(QString::fromUtf8(std::get<1>(GetParam())));
    EXPECT_EQ(WindowLifter::isSettings(window), std::get<2>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Windows, SettingsWindowPredicate,
                         testing::Values(std::tuple("preferences", "Harnesses", true),
                                         std::tuple("app-SETTINGS-window", "", true),
                                         std::tuple("main", "Settings", true),
                                         std::tuple("main", "Settings…", false),
                                         std::tuple("job-editor", "Scheduled Job", false)));

TEST(WindowLifter, LiftsTheFirstShownMatchAndNothingWithoutOne) {
    QWidget closed, other, settings;
    closed.setObjectName("settings");
    other.show();
    QApplication::setActiveWindow(&other);
    EXPECT_FALSE(WindowLifter::bringForwardNow(&WindowLifter::isSettings));
    QTest::qWait(50);
    EXPECT_EQ(QApplication::activeWindow(), &other);

    settings.setWindowTitle("General");
    settings.show();
    QApplication::setActiveWindow(&other);
    EXPECT_TRUE(WindowLifter::bringForwardNow(&WindowLifter::isSettings));
    EXPECT_FALSE(closed.isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &settings; }, 2000));
}

} // namespace
} // namespace marrowbell::app
