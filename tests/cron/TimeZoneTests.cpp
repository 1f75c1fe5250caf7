#include "CronTestSupport.h"
#include "support/TestSupport.h"

namespace marrowbell {
namespace {

TEST(TimeZone, KnowsTzIdentifiersAndOtherwiseFallsBackToTheSystemZone) {
    EXPECT_TRUE(TimeZone::named("UTC"));
    EXPECT_EQ(TimeZone::named("America/New_York")->identifier(), "America/New_York");
    for (const char* name : {"Mars/Olympus", "", "Europe/London\n", "\xff\xfe"})
        EXPECT_FALSE(TimeZone::named(name)) << name;
    test::ScopedEnv tz("TZ", "Asia/Tokyo");
    EXPECT_EQ(TimeZone::system().identifier(), "Asia/Tokyo");
    EXPECT_EQ(TimeZone::namedOrSystem("No/Such_Zone").identifier(), "Asia/Tokyo");
    EXPECT_EQ(TimeZone::namedOrSystem("Europe/Paris").identifier(), "Europe/Paris");
}

TEST(TimeZone, LocalFieldsRoundTrip) {
    auto london = test::zone("Europe/London");
    // 2026-07-01 12:34:56.5 UTC is 13:34:56.5 in summer time, a Wednesday.
    Instant instant = Instant::fromUnix(1782909296.5);
    EXPECT_EQ(london.local(instant), (LocalDateTime{2026, 7, 1, 13, 34, 56.5, 3}));
    EXPECT_EQ(london.offsetSeconds(instant), 3600);
    EXPECT_EQ(london.instant(london.local(instant)), instant);
}

TEST(TimeZone, RepeatedWallTimeGivesFirstOccurrenceAndSkippedOrInvalidGivesNone) {
    auto newYork = test::zone("America/New_York");
    // Clocks go back from 02:00 EDT to 01:00 EST on 2026-11-01 and jump from 02:00 to
    // 03:00 on 2026-03-08.
    EXPECT_EQ(newYork.offsetSeconds(*newYork.instant({2026, 11, 1, 1, 30})), -4 * 3600);
    EXPECT_FALSE(newYork.instant({2026, 3, 8, 2, 30}));
    EXPECT_FALSE(newYork.instant({2026, 2, 30, 9, 0}));
    EXPECT_FALSE(newYork.instant({2026, 13, 1, 9, 0}));
}

TEST(TimeZone, CivilDaysMatchTheGregorianCalendar) {
    EXPECT_EQ(civil::daysFromDate(2000, 3, 1), 11017);
    EXPECT_EQ(civil::weekdayFromDays(civil::daysFromDate(1900, 1, 1)), 1); // a Monday
    for (std::int64_t days : {-800000LL, -1LL, 59LL, 2932896LL}) {
        std::int64_t y;
        int m, d;
        civil::dateFromDays(days, y, m, d);
        EXPECT_EQ(civil::daysFromDate(y, m, d), days);
    }
}

} // namespace
} // namespace marrowbell
