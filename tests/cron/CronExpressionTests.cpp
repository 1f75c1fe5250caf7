#include "CronTestSupport.h"
#include "cron/CronExpression.h"

#include <random>

namespace marrowbell {
namespace {

using test::wall;
using test::zone;

CronError errorOf(const std::string& text) {
    try {
        CronExpression expression(text);
    } catch (const CronError& error) {
        return error;
    }
    ADD_FAILURE() << "parsed: " << text;
    return CronError::wrongFieldCount(-1);
}

TEST(CronParse, NormalisesBlanksAndKeepsSources) {
    CronExpression e("  0   9 * * 1-5 ");
    EXPECT_EQ(e.text(), "0 9 * * 1-5");
    EXPECT_EQ(e.minute().source, "0");
    EXPECT_EQ(e.weekday().values, (ValueSet{1, 2, 3, 4, 5}));
    EXPECT_EQ(CronExpression("\t*/15 9-17 * * *\t").text(), "*/15 9-17 * * *");
    EXPECT_EQ(CronExpression("+5 * * * *").minute().values, ValueSet{5});
    EXPECT_EQ(CronExpression("5/15 * * * *").minute().values, (ValueSet{5, 20, 35, 50}));
    EXPECT_EQ(CronExpression("0-30/10,45 * * * *").minute().values, (ValueSet{0, 10, 20, 30, 45}));
    EXPECT_EQ(CronExpression("* * * * *"), CronExpression::parse("*  *  *  *  *"));
}

TEST(CronParse, WeekdaySevenIsSunday) {
    auto weekdays = [](const char* field) {
        return CronExpression(std::string("0 0 * * ") + field).weekday().values;
    };
    EXPECT_EQ(weekdays("7"), ValueSet{0});
    EXPECT_EQ(weekdays("*"), (ValueSet{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(weekdays("0-7"), (ValueSet{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(weekdays("5-7"), (ValueSet{0, 5, 6}));
    EXPECT_EQ(weekdays("*/7"), ValueSet{0});
    EXPECT_EQ(weekdays("1/3"), (ValueSet{0, 1, 4}));
}

TEST(CronParse, SingleValueAndStep) {
    CronExpression e("*/15 09 9-9 */60 7");
    EXPECT_EQ(e.minute().step(), 15);
    EXPECT_FALSE(e.minute().singleValue());
    EXPECT_EQ(e.hour().singleValue(), 9);
    EXPECT_FALSE(e.dayOfMonth().singleValue());
    EXPECT_FALSE(e.month().singleValue());
    EXPECT_EQ(e.month().step(), 60);
    EXPECT_EQ(e.weekday().singleValue(), 0);
    EXPECT_FALSE(CronExpression("0/15 * * * *").minute().step());
    EXPECT_FALSE(CronExpression("1-59/2 * * * *").minute().step());
    EXPECT_FALSE(CronExpression("* * * * *").minute().step());
}

struct Refusal {
    std::string text;
    std::string message;
};

class CronRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(CronRefusal, GivesTheFirstProblemOnly) {
    EXPECT_EQ(errorOf(GetParam().text).what(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, CronRefusal,
    testing::Values(
        Refusal{"0 9 * *", "A cron expression needs 5 fields (minute hour day month weekday); "
                           "found 4."},
        Refusal{"", "A cron expression needs 5 fields (minute hour day month weekday); found 0."},
        Refusal{"0 0 0 0 0 0", "A cron expression needs 5 fields (minute hour day month "
                               "weekday); found 6."},
        Refusal{"0 24 * * *", "The hour field does not accept \"24\"."},
        Refusal{"0 0 0 * *", "The day of month field does not accept \"0\"."},
        Refusal{"0 0 * 13 *", "The month field does not accept \"13\"."},
        Refusal{"0,99 * * * *", "The minute field does not accept \"99\"."},
        Refusal{"*/0 * * * *", "The minute field does not accept \"*/0\"."},
        Refusal{"1/2/3 * * * *", "The minute field does not accept \"1/2/3\"."},
        Refusal{"5-1 * * * *", "The minute field does not accept \"5-1\"."},
        Refusal{"-5 * * * *", "The minute field does not accept \"-5\"."},
        Refusal{"1,,2 * * * *", "The minute field does not accept \"\"."},
        Refusal{"0 9 * jan *", "The month field does not accept \"jan\"."},
        Refusal{"0 9 * * *\n", "The weekday field does not accept \"*\n\"."},
        Refusal{"0 9 * * 8", "The weekday field does not accept \"8\"."},
        Refusal{"*/-5 * * * *", "The minute field does not accept \"*/-5\"."},
        Refusal{"1-2-3 * * * *", "The minute field does not accept \"1-2-3\"."},
        Refusal{"*/ * * * *", "The minute field does not accept \"*/\"."},
        Refusal{"0 1 2 3 4-", "The weekday field does not accept \"4-\"."},
        // Fields are examined left to right; later problems go unmentioned.
        Refusal{"60 24 32 13 8", "The minute field does not accept \"60\"."},
        Refusal{"0 x,24 * * *", "The hour field does not accept \"x\"."},
        // Numbers beyond 64 bits are refused, not wrapped.
        Refusal{"*/99999999999999999999 * * * *",
                "The minute field does not accept \"*/99999999999999999999\"."},
        Refusal{"9223372036854775807 * * * *",
                "The minute field does not accept \"9223372036854775807\"."},
        Refusal{"0 0 * * 0-9223372036854775808",
                "The weekday field does not accept \"0-9223372036854775808\"."},
        Refusal{"1 2 3 4 5\xff", "The weekday field does not accept \"5\xff\"."}));

TEST(CronParse, ControlCharactersAreOffendingValues) {
    CronError error = errorOf(std::string("0 0\0 * * *", 10));
    EXPECT_EQ(error.name(), "hour");
    EXPECT_EQ(error.value(), std::string("0\0", 2));
    EXPECT_EQ(errorOf("0 0 * * \x1b").value(), "\x1b");
    EXPECT_EQ(errorOf("0 0 * * \x1b"), CronError::invalidField("weekday", "\x1b"));
}

TEST(CronParse, HugeStepsDoNotOverflow) {
    EXPECT_EQ(CronExpression("*/9223372036854775807 * * * *").minute().values, ValueSet{0});
    EXPECT_EQ(CronExpression("59/9223372036854775807 * * * *").minute().values, ValueSet{59});
    EXPECT_EQ(CronExpression("0-59/9223372036854775807 * * * *").minute().values, ValueSet{0});
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
    std::string longText(1'000'000, '1');
    EXPECT_THROW(CronExpression(longText + " * * * *"), CronError);
    std::string longList;
    for (int i = 0; i < 100000; ++i)
        longList += std::to_string(i % 60) + ",";
    longList += "0";
    EXPECT_EQ(CronExpression(longList + " * * * *").minute().values.size(), 60u);
}

TEST(CronNextDate, StartsStrictlyAfterTheGivenInstant) {
    auto utc = TimeZone::utc();
    CronExpression daily("0 9 * * *");
    EXPECT_EQ(daily.nextDate(wall(utc, 2026, 6, 1, 9, 0), utc), wall(utc, 2026, 6, 2, 9, 0));
    EXPECT_EQ(daily.nextDate(wall(utc, 2026, 6, 1, 8, 59, 59.5), utc), wall(utc, 2026, 6, 1, 9, 0));
    auto berlin = zone("Europe/Berlin");
    EXPECT_EQ(daily.nextDate(wall(berlin, 2026, 1, 10, 12, 0), berlin),
              wall(berlin, 2026, 1, 11, 9, 0));
}

TEST(CronNextDate, NextDatesChainsFromEachResult) {
    auto tokyo = zone("Asia/Tokyo");
    auto dates =
        CronExpression("*/20 * * * *").nextDates(3, wall(tokyo, 2026, 5, 5, 10, 5, 30), tokyo);
    EXPECT_EQ(dates, (std::vector<Instant>{wall(tokyo, 2026, 5, 5, 10, 20),
                                           wall(tokyo, 2026, 5, 5, 10, 40),
                                           wall(tokyo, 2026, 5, 5, 11, 0)}));
    EXPECT_TRUE(CronExpression("* * * * *").nextDates(0, Instant{}, tokyo).empty());
    EXPECT_TRUE(CronExpression("* * * * *").nextDates(-3, Instant{}, tokyo).empty());
}

TEST(CronNextDate, DayOfMonthAndWeekdayAreAUnionWhenBothRestricted) {
    auto utc = TimeZone::utc();
    // 2026-06-01 is a Monday; June has Mondays 1, 8, 15, 22, 29.
    auto firstOrMonday =
        CronExpression("0 9 1 * 1").nextDates(4, wall(utc, 2026, 6, 1, 10, 0), utc);
    EXPECT_EQ(firstOrMonday,
              (std::vector<Instant>{wall(utc, 2026, 6, 8, 9, 0), wall(utc, 2026, 6, 15, 9, 0),
                                    wall(utc, 2026, 6, 22, 9, 0), wall(utc, 2026, 6, 29, 9, 0)}));
    EXPECT_EQ(CronExpression("0 9 1 * 1").nextDate(wall(utc, 2026, 6, 29, 10, 0), utc),
              wall(utc, 2026, 7, 1, 9, 0));
    // "*/2" counts as restricted: odd days or Mondays. 2026-06-02 is a Tuesday.
    auto oddOrMonday = CronExpression("0 9 */2 * 1").nextDates(4, wall(utc, 2026, 6, 2, 0, 0), utc);
    EXPECT_EQ(oddOrMonday,
              (std::vector<Instant>{wall(utc, 2026, 6, 3, 9, 0), wall(utc, 2026, 6, 5, 9, 0),
                                    wall(utc, 2026, 6, 7, 9, 0), wall(utc, 2026, 6, 8, 9, 0)}));
    // Only the weekday restricted: Saturdays and Sundays.
    EXPECT_EQ(CronExpression("0 9 * * 6,7").nextDate(wall(utc, 2026, 6, 2, 0, 0), utc),
              wall(utc, 2026, 6, 6, 9, 0));
}

TEST(CronNextDate, ImpossibleDatesNeverFire) {
    auto utc = TimeZone::utc();
    for (const char* text : {"0 0 31 2 *", "0 0 30 2 *", "0 0 31 4,6,9,11 *"}) {
        EXPECT_FALSE(CronExpression(text).nextDate(wall(utc, 2026, 1, 1, 0, 0), utc)) << text;
        EXPECT_TRUE(CronExpression(text).nextDates(5, wall(utc, 2026, 1, 1, 0, 0), utc).empty());
    }
    // The 31st skips short months instead of firing on their last day.
    auto dates = CronExpression("0 9 31 * *").nextDates(3, wall(utc, 2026, 1, 31, 10, 0), utc);
    EXPECT_EQ(dates,
              (std::vector<Instant>{wall(utc, 2026, 3, 31, 9, 0), wall(utc, 2026, 5, 31, 9, 0),
                                    wall(utc, 2026, 7, 31, 9, 0)}));
}

TEST(CronNextDate, LeapDayIsFoundWithinTheHorizon) {
    auto utc = TimeZone::utc();
    EXPECT_EQ(CronExpression("0 0 29 2 *").nextDate(wall(utc, 2026, 3, 1, 0, 0), utc),
              wall(utc, 2028, 2, 29, 0, 0));
    // Horizon: 1830 days from the start day; 2100 is no leap year, 2104 is too far.
    EXPECT_FALSE(CronExpression("0 0 29 2 *").nextDate(wall(utc, 2096, 3, 1, 0, 0), utc));
}

TEST(CronNextDate, SkippedWallTimeDoesNotFireThatNight) {
    auto newYork = zone("America/New_York");
    // 2026-03-08: clocks jump from 02:00 to 03:00.
    EXPECT_EQ(CronExpression("30 2 * * *").nextDate(wall(newYork, 2026, 3, 7, 12, 0), newYork),
              wall(newYork, 2026, 3, 9, 2, 30));
    EXPECT_EQ(CronExpression("0 3 * * *").nextDate(wall(newYork, 2026, 3, 7, 12, 0), newYork),
              wall(newYork, 2026, 3, 8, 3, 0));
}

TEST(CronNextDate, RepeatedWallTimeFiresOnce) {
    auto newYork = zone("America/New_York");
    // 2026-11-01: 01:00–01:59 happens twice (EDT, then EST).
    Instant firstPass = wall(newYork, 2026, 11, 1, 1, 30);
    CronExpression halfPastOne("30 1 * * *");
    EXPECT_EQ(halfPastOne.nextDate(wall(newYork, 2026, 11, 1, 0, 0), newYork), firstPass);
    EXPECT_EQ(halfPastOne.nextDate(firstPass, newYork), wall(newYork, 2026, 11, 2, 1, 30));
    // During the second pass, the hour's candidates lie in the past.
    Instant secondPass = firstPass + 3600 + 60;
    EXPECT_EQ(newYork.local(secondPass).hour, 1);
    EXPECT_EQ(CronExpression("45 1 * * *").nextDate(secondPass, newYork),
              wall(newYork, 2026, 11, 2, 1, 45));
    auto everyQuarter =
        CronExpression("*/15 * * * *").nextDates(6, wall(newYork, 2026, 11, 1, 0, 50), newYork);
    std::vector<double> gaps;
    for (std::size_t i = 1; i < everyQuarter.size(); ++i)
        gaps.push_back(everyQuarter[i] - everyQuarter[i - 1]);
    // 01:00, 01:15, 01:30, 01:45 (first pass), then 02:00 EST an hour and a quarter later.
    EXPECT_EQ(gaps, (std::vector<double>{900, 900, 900, 4500, 900}));
}

TEST(CronNextDate, ResultsAreWholeMinutesAndUnreachableAfterGivesNone) {
    auto utc = TimeZone::utc();
    auto next = CronExpression("* * * * *").nextDate(Instant{12.75}, utc);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->sinceReference, 60);
    EXPECT_FALSE(CronExpression("* * * * *")
                     .nextDate(Instant{std::numeric_limits<double>::quiet_NaN()}, utc));
    EXPECT_TRUE(CronExpression("* * * * *").nextDate(Instant::distantPast(), utc));
}

} // namespace
} // namespace marrowbell
