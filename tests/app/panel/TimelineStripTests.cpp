// The next-24-hours strip: where its ticks stand and what they say.
#include "job/JobTestSupport.h"
#include "panel/TimelineStrip.h"
#include "support/TestSupport.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

const Instant monday = Instant::fromUnix(1796644800); // Mon 7 Dec 2026 12:00 UTC

class TimelineStripTest : public testing::Test {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        strip.resize(424, strip.sizeHint().height());
        // Every two hours from 12:30: 12:30 falls within the hour, 14:30 beyond it.
        strip.setTimeline(
            ScheduleTimeline::upcoming({test::makeJob("Sweep", "30 */2 * * *")}, monday, 24, 48));
    }
    test::ScopedEnv zone{"TZ", "UTC"};
    TimelineStrip strip;
};

TEST_F(TimelineStripTest, RunsWithinTheHourStandTallerAndHigher) {
    const auto& marks = strip.timeline().marks;
    ASSERT_GE(marks.size(), 2u);
    QRectF soon = strip.tickRect(marks[0]);
    QRectF later = strip.tickRect(marks[1]);
    EXPECT_DOUBLE_EQ(soon.width(), 3);
    EXPECT_DOUBLE_EQ(soon.height(), 15);
    EXPECT_DOUBLE_EQ(later.height(), 11);
    EXPECT_NEAR(soon.top() - later.top(), (0.16 - 0.32) * TimelineStrip::railHeight, 1e-9);
}

TEST_F(TimelineStripTest, TicksStandInProportionToTimeAcrossTheWidth) {
    const auto& marks = strip.timeline().marks;
    // 12:30, 14:30, …, 10:30 the next day: twelve runs two hours apart.
    ASSERT_EQ(marks.size(), 12u);
    double first = strip.tickRect(marks.front()).center().x();
    double last = strip.tickRect(marks.back()).center().x();
    double twoHours = strip.tickRect(marks[1]).center().x() - first;
    EXPECT_NEAR(last - first, 11 * twoHours, 1e-6);
    // Half an hour in is 1/48 of the way; 22.5 hours in is 45/48 of it.
    EXPECT_NEAR((last - first) / twoHours, (45.0 - 1.0) / 4, 1e-6);
    EXPECT_GT(first, 0);
    EXPECT_LT(last, strip.width());
}

TEST_F(TimelineStripTest, TickTooltipNamesTheJobAndItsTime) {
    EXPECT_EQ(TimelineStrip::tickToolTip(strip.timeline().marks[1]).toStdString(),
              "Sweep — Mon 2:30 PM");
}

} // namespace
} // namespace marrowbell::app
