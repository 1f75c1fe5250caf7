#include "base/TimeZone.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

TEST(TimeZone, KnowsTzIdentifiersAndOtherwiseFallsBackToTheSystemZone) {
    EXPECT_EQ(TimeZone::named("America/New_York")->identifier(), "America/New_York");
    for (const char* name : {"Mars/Olympus", "", "Europe/London\n", "\xff\xfe"})
        EXPECT_FALSE(TimeZone::named(name)) << name;
    test::ScopedEnv tz("TZ", "Asia/Tokyo");
    EXPECT_EQ(TimeZone::system().identifier(), "Asia/Tokyo");
    EXPECT_EQ(TimeZone::namedOrSystem("No/Such_Zone").identifier(), "Asia/Tokyo");
    EXPECT_EQ(TimeZone::namedOrSystem("Europe/Paris").identifier(), "Europe/Paris");
}

// Local fields round trip; a repeated wall time is its first occurrence, a skipped or
// impossible one none.
TEST(TimeZone, LocalFieldsRoundTripAndWallTimesMapToTheFirstOccurrence) {
    auto london = TimeZone::named("Europe/London").value();
    Instant instant = Instant::fromUnix(1782909296.5); // 2026-07-01 12:34:56.5 UTC, a Wednesday
    EXPECT_EQ(london.local(instant), (LocalDateTime{2026, 7, 1, 13, 34, 56.5, 3}));
    EXPECT_EQ(london.offsetSeconds(instant), 3600);
    EXPECT_EQ(london.instant(london.local(instant)), instant);
    // New York: back from 02:00 EDT on 2026-11-01, forward to 03:00 on 2026-03-08.
    auto newYork = TimeZone::named("America/New_York").value();
    EXPECT_EQ(newYork.offsetSeconds(*newYork.instant({2026, 11, 1, 1, 30})), -4 * 3600);
    for (LocalDateTime wall : {LocalDateTime{2026, 3, 8, 2, 30}, LocalDateTime{2026, 2, 30, 9, 0},
                               LocalDateTime{2026, 13, 1, 9, 0}})
        EXPECT_FALSE(newYork.instant(wall));
    // Civil days follow the Gregorian calendar, before 1970 and year 0 too.
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
