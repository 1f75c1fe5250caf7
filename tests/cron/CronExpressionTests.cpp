#include "cron/CronExpression.h"

#include <gtest/gtest.h>
#include <random>
#include <sstream>

namespace marrowbell {
namespace {

// The instants showing these wall times in `z` (first occurrences), written
// "2026-6-1 9:00[:30.5]" and separated by commas.
std::vector<Instant> walls(const TimeZone& z, const std::string& text) {
    std::vector<Instant> instants;
    std::istringstream in(text);
    LocalDateTime t;
    char sep;
    while (in >> t.year >> sep >> t.month >> sep >> t.day >> t.hour >> sep >> t.minute) {
        t.second = in.peek() == ':' ? (in >> sep >> t.second, t.second) : 0;
        instants.push_back(z.instant(t).value());
        in >> sep;
    }
    return instants;
}

TEST(CronParse, ReadsEachFieldsValues) {
    CronExpression e("  0   9 * * 1-5 ");
    EXPECT_EQ(e.text(), "0 9 * * 1-5");
    EXPECT_EQ(e.minute().source, "0");
    EXPECT_EQ(e.weekday().values, (ValueSet{1, 2, 3, 4, 5}));
    EXPECT_EQ(CronExpression("\t*/15 9-17 * * *\t").text(), "*/15 9-17 * * *");
    EXPECT_EQ(CronExpression("+5 * * * *").minute().values, ValueSet{5});
    EXPECT_EQ(CronExpression("5/15 * * * *").minute().values, (ValueSet{5, 20, 35, 50}));
    EXPECT_EQ(CronExpression("0-30/10,45 * * * *").minute().values, (ValueSet{0, 10, 20, 30, 45}));
    // Weekday 7 is Sunday, stored as 0, also inside ranges and steps.
    auto weekdays = [](std::string f) { return CronExpression("0 0 * * " + f).weekday().values; };
    EXPECT_EQ(weekdays("7"), ValueSet{0});
    EXPECT_EQ(weekdays("5-7"), (ValueSet{0, 5, 6}));
    EXPECT_EQ(weekdays("1/3"), (ValueSet{0, 1, 4}));
    EXPECT_EQ(weekdays("*/1").size(), 7u);
    // Steps this large stop after their first value instead of overflowing.
    EXPECT_EQ(CronExpression("59/9223372036854775807 * * * *").minute().values, ValueSet{59});
    EXPECT_EQ(CronExpression("0-59/9223372036854775807 * * * *").minute().values, ValueSet{0});
}

// The error refusing `text` throws (a count of -1 when it parses).
CronError refusal(const std::string& text) {
    try {
        CronExpression e(text);
    } catch (const CronError& error) {
        return error;
    }
    return CronError::wrongFieldCount(-1);
}

// One row per branch of the parser, "text|field|term"; with no field, the count of fields
// is wrong and the term is the count found.
void expectRefused(const std::string& row) {
    auto first = row.find('|'), last = row.rfind('|');
    std::string field = row.substr(first + 1, last - first - 1), term = row.substr(last + 1);
    EXPECT_EQ(refusal(row.substr(0, first)), field.empty()
                                                 ? CronError::wrongFieldCount(std::stoll(term))
                                                 : CronError::invalidField(field, term))
        << row;
}

TEST(CronParse, RefusalNamesTheFirstBadFieldAndTerm) {
    for (const char* row :
         {"0 9 * *||4", "0 0 0 0 0 0||6", "0 24 * * *|hour|24", "0 0 0 * *|day of month|0",
          "0 0 * 13 *|month|13", "0 9 * * 8|weekday|8", "0 0 1,32 * *|day of month|32",
          "1,,2 * * * *|minute|", "*/0 * * * *|minute|*/0", "*/ * * * *|minute|*/",
          "1,1/2/3 * * * *|minute|1/2/3", "1-2-3 * * * *|minute|1-2-3", "5-1 * * * *|minute|5-1",
          "-5 * * * *|minute|-5", "0 1 2 3 4-|weekday|4-", "0 9 * jan *|month|jan",
          "0 9 * * *\n|weekday|*\n", "60 24 32 13 8|minute|60", "0 x,24 * * *|hour|x"})
        expectRefused(row);
    // Numbers beyond 64 bits are refused, not wrapped or truncated.
    expectRefused("*/99999999999999999999 * * * *|minute|*/99999999999999999999");
    expectRefused("9223372036854775807 * * * *|minute|9223372036854775807");
    expectRefused("0 0 * * 0-9223372036854775808|weekday|0-9223372036854775808");
    EXPECT_EQ(refusal(std::string("0 0\0 * * *", 10)),
              CronError::invalidField("hour", std::string("0\0", 2)));
}

TEST(CronParse, ArbitraryBytesNeverCrash) {
    std::mt19937 random(42);
    const std::string alphabet = "0123456789*,-/+ \t\n\xff\x80\x01 L#?abc";
    for (int i = 0; i < 20000; ++i) {
        std::string text(random() % 40, ' ');
        for (char& c : text)
            c = alphabet[random() % alphabet.size()];
        try {
            CronExpression e(text);
            EXPECT_EQ(CronExpression(e.text()), e);
        } catch (const CronError& error) {
            EXPECT_FALSE(std::string(error.what()).empty());
        }
    }
    EXPECT_THROW(CronExpression(std::string(1'000'000, '1') + " * * * *"), CronError);
    std::string longList;
    for (int i = 0; i < 100000; ++i)
        longList += std::to_string(i % 60) + ",";
    EXPECT_EQ(CronExpression(longList + "0 * * * *").minute().values.size(), 60u);
}

// Every fire time within the horizon, or the first few, each searched from the one before.
struct Fires {
    const char *name, *cron, *zone, *after, *fires;
};

class CronNextDate : public testing::TestWithParam<Fires> {};

TEST_P(CronNextDate, FiresAtTheNextMatchingWallTimes) {
    const Fires& f = GetParam();
    auto z = TimeZone::named(f.zone).value();
    auto expected = walls(z, f.fires);
    auto fires = CronExpression(f.cron).nextDates(std::max<std::size_t>(expected.size(), 1),
                                                  walls(z, f.after).at(0), z);
    EXPECT_EQ(fires, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Search, CronNextDate,
    testing::Values(
        Fires{"strictlyAfter", "0 9 * * *", "UTC", "2026-6-1 9:00", "2026-6-2 9:00"},
        Fires{"secondsBefore", "0 9 * * *", "UTC", "2026-6-1 8:59:59.5", "2026-6-1 9:00"},
        Fires{"inTheZone", "0 9 * * *", "Europe/Berlin", "2026-1-10 12:00", "2026-1-11 9:00"},
        Fires{"chained", "*/20 * * * *", "Asia/Tokyo", "2026-5-5 10:05:30",
              "2026-5-5 10:20, 2026-5-5 10:40, 2026-5-5 11:00"},
        // Both day fields restricted: either may match. 2026-06-01 is a Monday.
        Fires{"firstOrMonday", "0 9 1 * 1", "UTC", "2026-6-22 10:00",
              "2026-6-29 9:00, 2026-7-1 9:00, 2026-7-6 9:00"},
        Fires{"stepCountsAsRestricted", "0 9 */2 * 1", "UTC", "2026-6-6 0:00",
              "2026-6-7 9:00, 2026-6-8 9:00, 2026-6-9 9:00"},
        Fires{"weekdayOnly", "0 9 * * 6,7", "UTC", "2026-6-2 0:00", "2026-6-6 9:00, 2026-6-7 9:00"},
        Fires{"impossibleDate", "0 0 31 4,6,9,11 *", "UTC", "2026-1-1 0:00", ""},
        Fires{"the31stSkipsShortMonths", "0 9 31 * *", "UTC", "2026-1-31 10:00",
              "2026-3-31 9:00, 2026-5-31 9:00"},
        Fires{"leapDay", "0 0 29 2 *", "UTC", "2026-3-1 0:00", "2028-2-29 0:00"},
        // 1830 days from the start day: 2100 is no leap year, 2104 is too far.
        Fires{"beyondTheHorizon", "0 0 29 2 *", "UTC", "2096-3-1 0:00", ""},
        // 2026-03-08: clocks jump from 02:00 to 03:00; 02:30 does not fire that night.
        Fires{"skippedWallTime", "30 2 * * *", "America/New_York", "2026-3-7 12:00",
              "2026-3-9 2:30"},
        Fires{"afterTheGap", "0 3 * * *", "America/New_York", "2026-3-7 12:00", "2026-3-8 3:00"},
        // 2026-11-01: 01:00–01:59 happens twice (EDT, then EST); it fires on the first.
        Fires{"repeatedWallTime", "30 1 * * *", "America/New_York", "2026-11-1 0:00",
              "2026-11-1 1:30, 2026-11-2 1:30"},
        Fires{"repeatedHourOnce", "*/15 * * * *", "America/New_York", "2026-11-1 0:50",
              "2026-11-1 1:00, 2026-11-1 1:15, 2026-11-1 1:30, 2026-11-1 1:45, 2026-11-1 2:00"}),
    [](const auto& info) { return std::string(info.param.name); });

// During the second pass of a repeated hour its candidates lie in the past; results are
// whole minutes; an instant with no after gives none.
TEST(CronNextDate, EdgeInstants) {
    auto newYork = TimeZone::named("America/New_York").value();
    Instant secondPass = walls(newYork, "2026-11-1 1:31")[0] + 3600;
    EXPECT_EQ(newYork.local(secondPass).hour, 1);
    EXPECT_EQ(CronExpression("45 1 * * *").nextDate(secondPass, newYork),
              walls(newYork, "2026-11-2 1:45")[0]);
    auto utc = TimeZone::utc();
    CronExpression everyMinute("* * * * *");
    EXPECT_EQ(everyMinute.nextDate(Instant{12.75}, utc), Instant{60});
    EXPECT_FALSE(everyMinute.nextDate(Instant{std::numeric_limits<double>::quiet_NaN()}, utc));
    EXPECT_TRUE(everyMinute.nextDate(Instant::distantPast(), utc));
    EXPECT_TRUE(everyMinute.nextDates(0, Instant{}, utc).empty());
    EXPECT_TRUE(everyMinute.nextDates(-3, Instant{}, utc).empty());
}

} // namespace
} // namespace marrowbell
