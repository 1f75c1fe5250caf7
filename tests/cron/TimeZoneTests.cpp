#include "base/Files.h"
#include "base/TimeZone.h"
#include "base/ZoneRules.h"
#include "support/TestSupport.h"

#include <ctime>
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

// The C library reads the same zone files with code of its own: every half hour of
// some years, and a day less a second apart over three centuries, both must agree.
// The POSIX rules (given as $TZ) cover daylight time across the new year, a negative
// saving, half-hour zones and daylight time all year.
class ZoneOffsets : public ::testing::TestWithParam<const char*> {};

TEST_P(ZoneOffsets, AgreeWithTheCLibrary) {
    const TimeZone zone = [] {
        test::ScopedEnv tz("TZ", GetParam());
        return TimeZone::system();
    }();
    test::ScopedEnv tz("TZ", GetParam());
    ::tzset();
    auto check = [&](std::int64_t from, std::int64_t to, std::int64_t step) {
        for (std::int64_t t = from; t < to; t += step) {
            const std::time_t time = t;
            std::tm fields{};
            ASSERT_TRUE(::localtime_r(&time, &fields));
            const Instant instant = Instant::fromUnix(static_cast<double>(t));
            ASSERT_EQ(zone.offsetSeconds(instant), fields.tm_gmtoff) << t;
            // Back from the wall time: this instant, or an earlier one showing the same.
            const auto back = zone.instant(zone.local(instant));
            ASSERT_TRUE(back && *back <= instant && zone.local(*back) == zone.local(instant)) << t;
        }
    };
    check(1704067200, 1861920000, 1800); // 2024 to 2029
    // The C library applies a POSIX rule to no year before 1970.
    const bool rule = std::string_view(GetParam()).find(',') != std::string_view::npos;
    check(rule ? 31536000 : -2208988800, 7258118400, 86399); // 1900 (1971) to 2200
}

TEST(TimeZone, ARuleOfDaylightTimeAllYearHasNoHourOfStandardTime) {
    // The C library, reckoning the rule's year in UTC, gives its first hours standard time.
    test::ScopedEnv tz("TZ", "EST5EDT4,0/0,J365/25");
    const TimeZone zone = TimeZone::system();
    for (double unix : {1704067200.0, 1704085200.0, 1735671600.0})
        EXPECT_EQ(zone.offsetSeconds(Instant::fromUnix(unix)), -4 * 3600) << unix;
}

TEST(TimeZone, AZoneFileCutShortIsRefusedAndNeverReadPastItsEnd) {
    const auto bytes = files::read("/usr/share/zoneinfo/Europe/London").value();
    int accepted = 0;
    for (std::size_t length = 0; length < bytes.size(); ++length)
        accepted += ZoneRules::fromTzif(std::string_view(bytes).substr(0, length)).has_value();
    EXPECT_LE(accepted, 1); // only without its last line, the rule for times after the table
    ASSERT_TRUE(ZoneRules::fromTzif(bytes));
    EXPECT_EQ(ZoneRules::fromTzif(bytes)->offsetAt(1782909296), 3600);
}

INSTANTIATE_TEST_SUITE_P(
    , ZoneOffsets,
    ::testing::Values("Europe/London", "America/New_York", "Australia/Lord_Howe", "Europe/Dublin",
                      "Africa/Casablanca", "Pacific/Apia", "AEST-10AEDT,M10.1.0,M4.1.0/3",
                      "IST-1GMT0,M10.5.0,M3.5.0/1", "<+0330>-3:30", "XXX3:30YYY,J60/-1,300/26"));

} // namespace
} // namespace marrowbell
