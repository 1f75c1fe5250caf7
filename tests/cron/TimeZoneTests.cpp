#include "CronTestSupport.h"

#include <cstdlib>

namespace marrowbell {
namespace {

TEST(TimeZone, KnowsTzIdentifiersAndRefusesOthers) {
    EXPECT_TRUE(TimeZone::named("Europe/London"));
    EXPECT_TRUE(TimeZone::named("UTC"));
    EXPECT_EQ(TimeZone::named("America/New_York")->identifier(), "America/New_York");
    for (const char* name : {"Mars/Olympus", "", "Etc/Unknown", "Europe/London\n", "\xff\xfe"})
        EXPECT_FALSE(TimeZone::named(name)) << name;
}

TEST(TimeZone, UnknownNameFallsBackToTheSystemZone) {
    ::setenv("TZ", "Asia/Tokyo", 1);
    EXPECT_EQ(TimeZone::system().identifier(), "Asia/Tokyo");
    EXPECT_EQ(TimeZone::namedOrSystem("No/Such_Zone").identifier(), "Asia/Tokyo");
    EXPECT_EQ(TimeZone::namedOrSystem("Europe/Paris").identifier(), "Europe/Paris");
    ::unsetenv("TZ");
}

TEST(TimeZone, LocalFieldsRoundTrip) {
    auto london = test::zone("Europe/London");
    // 2026-07-01 12:34:56.5 UTC is 13:34:56.5 in summer time, a Wednesday.
    Instant instant = Instant::fromUnix(1782909296.5);
    LocalDateTime local = london.local(instant);
    EXPECT_EQ(local.year, 2026);
    EXPECT_EQ(local.month, 7);
    EXPECT_EQ(local.day, 1);
    EXPECT_EQ(local.hour, 13);
    EXPECT_EQ(local.minute, 34);
    EXPECT_DOUBLE_EQ(local.second, 56.5);
    EXPECT_EQ(local.weekday, 3);
    EXPECT_EQ(london.offsetSeconds(instant), 3600);
    EXPECT_EQ(london.instant(local), instant);
}

TEST(TimeZone, RepeatedWallTimeGivesFirstOccurrenceAndSkippedGivesNone) {
    auto newYork = test::zone("America/New_York");
    // Clocks go back from 02:00 EDT to 01:00 EST on 2026-11-01.
    auto repeated = newYork.instant({2026, 11, 1, 1, 30});
    ASSERT_TRUE(repeated);
    EXPECT_EQ(newYork.offsetSeconds(*repeated), -4 * 3600);
    // Clocks jump from 02:00 to 03:00 on 2026-03-08.
    EXPECT_FALSE(newYork.instant({2026, 3, 8, 2, 30}));
    EXPECT_TRUE(newYork.instant({2026, 3, 8, 3, 0}));
    // Fields out of range are not wall times either.
    EXPECT_FALSE(newYork.instant({2026, 2, 30, 9, 0}));
    EXPECT_FALSE(newYork.instant({2026, 13, 1, 9, 0}));
}

TEST(TimeZone, CivilDaysMatchTheGregorianCalendar) {
    EXPECT_EQ(civil::daysFromDate(1970, 1, 1), 0);
    EXPECT_EQ(civil::daysFromDate(2000, 3, 1), 11017);
    EXPECT_EQ(civil::weekdayFromDays(civil::daysFromDate(2026, 12, 6)), 0); // a Sunday
    EXPECT_EQ(civil::weekdayFromDays(civil::daysFromDate(1900, 1, 1)), 1);  // a Monday
    for (std::int64_t days : {-800000LL, -1LL, 0LL, 59LL, 11016LL, 2932896LL}) {
        std::int64_t y;
        int m, d;
        civil::dateFromDays(days, y, m, d);
        EXPECT_EQ(civil::daysFromDate(y, m, d), days);
    }
}

} // namespace
} // namespace marrowbell
