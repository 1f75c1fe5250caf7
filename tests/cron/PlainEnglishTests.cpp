#include "cron/CronExpression.h"
#include "cron/ScheduleWords.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

// The picker's shapes read as words, whatever the user's zone and locale; anything else (a
// list, a range of one, a month, both day fields, six weekdays, a stepped start) stays as typed.
TEST(PlainEnglish, DescribesThePickerShapesAndLeavesTheRestAsTyped) {
    test::ScopedEnv tz("TZ", "Pacific/Kiritimati");
    const char* const shapes[][3] = {
        {"* * * * *", "Every minute", "Every minute"},
        {"*/15 * * * *", "Every 15 minutes", "Every 15 min"},
        {"0 */2 * * *", "Every 2 hours", "Every 2 hr"},
        {"0 0 * * *", "Every day at 12:00 AM", "Daily 12:00 AM"},
        {"05 09 * * *", "Every day at 9:05 AM", "Daily 9:05 AM"},
        {"0 9 * * 1-5", "Every weekday at 9:00 AM", "Weekdays 9:00 AM"},
        {"0 18 * * 5", "Every Friday at 6:00 PM", "Fri 6:00 PM"},
        {"0 18 * * 7", "Every Sunday at 6:00 PM", "Sun 6:00 PM"},
        {"0 8 1 * *", "Every month on the 1st at 8:00 AM", "Monthly 1st, 8:00 AM"}};
    for (auto [cron, plain, compact] : shapes) {
        EXPECT_EQ(CronExpression(cron).plainEnglish(), plain);
        EXPECT_EQ(CronExpression(cron).compactEnglish(), compact);
    }
    for (const char* cron :
         {"0/15 * * * *", "*/30 */2 * * *", "0 9 * * 1-6", "0 9 * 6 1-5", "0 9 * 6 1", "0 9 * 6 *",
          "0 9 1 * 1", "0 9,17 * * *", "0 9-9 * * *"}) {
        EXPECT_EQ(CronExpression(cron).plainEnglish(), cron);
        EXPECT_EQ(CronExpression(cron).compactEnglish(), cron);
    }
    EXPECT_EQ(words::timeOfDay(23, 59), "11:59 PM");
    EXPECT_EQ(words::timeOfDay(24, 7), "24:7");
    EXPECT_EQ(words::ordinal(11), "11th");
    EXPECT_EQ(words::ordinal(31), "31st");
    EXPECT_EQ(words::name(7, words::fullWeekdayNames()), std::nullopt);
    EXPECT_EQ(words::name(-1, words::shortWeekdayNames()), std::nullopt);
    EXPECT_EQ(words::name(0, words::shortWeekdayNames()), "Sun");
}

} // namespace
} // namespace marrowbell
