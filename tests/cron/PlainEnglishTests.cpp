#include "cron/CronExpression.h"
#include "cron/ScheduleWords.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

struct Described {
    const char* cron;
    const char* plain;
    const char* compact;
};

class PlainEnglish : public testing::TestWithParam<Described> {};

TEST_P(PlainEnglish, DescribesTheShape) {
    CronExpression e(GetParam().cron);
    EXPECT_EQ(e.plainEnglish(), GetParam().plain);
    EXPECT_EQ(e.compactEnglish(), GetParam().compact);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, PlainEnglish,
    testing::Values(Described{"* * * * *", "Every minute", "Every minute"},
                    Described{"*/15 * * * *", "Every 15 minutes", "Every 15 min"},
                    Described{"0 */2 * * *", "Every 2 hours", "Every 2 hr"},
                    Described{"0/15 * * * *", "0/15 * * * *", "0/15 * * * *"},
                    Described{"*/30 */2 * * *", "*/30 */2 * * *", "*/30 */2 * * *"},
                    Described{"0 0 * * *", "Every day at 12:00 AM", "Daily 12:00 AM"},
                    Described{"05 09 * * *", "Every day at 9:05 AM", "Daily 9:05 AM"},
                    Described{"0 9 * * 1-5", "Every weekday at 9:00 AM", "Weekdays 9:00 AM"},
                    Described{"0 9 * * 1-6", "0 9 * * 1-6", "0 9 * * 1-6"},
                    Described{"0 18 * * 5", "Every Friday at 6:00 PM", "Fri 6:00 PM"},
                    Described{"0 18 * * 7", "Every Sunday at 6:00 PM", "Sun 6:00 PM"},
                    Described{"0 8 1 * *", "Every month on the 1st at 8:00 AM",
                              "Monthly 1st, 8:00 AM"},
                    Described{"0 9 * 6 1-5", "0 9 * 6 1-5", "0 9 * 6 1-5"},
                    Described{"0 9 * 6 1", "0 9 * 6 1", "0 9 * 6 1"},
                    Described{"0 9 * 6 *", "0 9 * 6 *", "0 9 * 6 *"},
                    Described{"0 9 1 * 1", "0 9 1 * 1", "0 9 1 * 1"},
                    Described{"0 9,17 * * *", "0 9,17 * * *", "0 9,17 * * *"},
                    Described{"0 9-9 * * *", "0 9-9 * * *", "0 9-9 * * *"}));

TEST(ScheduleWords, IgnoreTheUsersZoneAndLocale) {
    ::setenv("TZ", "Pacific/Kiritimati", 1);
    EXPECT_EQ(words::timeOfDay(23, 59), "11:59 PM");
    ::unsetenv("TZ");
    EXPECT_EQ(words::timeOfDay(24, 7), "24:7");
    EXPECT_EQ(words::ordinal(11), "11th");
    EXPECT_EQ(words::ordinal(31), "31st");
    EXPECT_EQ(words::name(7, words::fullWeekdayNames()), std::nullopt);
    EXPECT_EQ(words::name(-1, words::shortWeekdayNames()), std::nullopt);
    EXPECT_EQ(words::name(0, words::shortWeekdayNames()), "Sun");
}

} // namespace
} // namespace marrowbell
