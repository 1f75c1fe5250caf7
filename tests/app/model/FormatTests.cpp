#include "model/Format.h"

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

struct RelativeCase {
    std::optional<Seconds> ahead; // none: no date
    std::string text;
};

class FormatRelative : public testing::TestWithParam<RelativeCase> {};

TEST_P(FormatRelative, WritesTheWaitInTheLargestUnits) {
    const Instant now{800000000};
    const RelativeCase& c = GetParam();
    std::optional<Instant> date;
    if (c.ahead)
        date = now + *c.ahead;
    EXPECT_EQ(Format::relative(date, now), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, FormatRelative,
    testing::Values(RelativeCase{std::nullopt, "paused"}, RelativeCase{-1, "due"},
                    RelativeCase{0, "in <1m"}, RelativeCase{59.9, "in <1m"},
                    RelativeCase{60, "in 1m"}, RelativeCase{3599, "in 59m"},
                    RelativeCase{3600, "in 1h 0m"}, RelativeCase{7200, "in 2h 0m"},
                    RelativeCase{86399, "in 23h 59m"}, RelativeCase{86400, "in 1d 0h"},
                    RelativeCase{3 * 86400 + 5 * 3600 + 59, "in 3d 5h"}));

struct BriefCase {
    Seconds ahead;
    std::string text;
};

class FormatBrief : public testing::TestWithParam<BriefCase> {};

TEST_P(FormatBrief, NamesTheWeekdayWithinSixDays) {
    // Monday 2024-01-01 09:00 UTC.
    const Instant now = Instant::fromUnix(1704099600);
    const BriefCase& c = GetParam();
    EXPECT_EQ(Format::brief(now + c.ahead, now, "en_US", TimeZone::utc()), c.text);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, FormatBrief,
                         testing::Values(BriefCase{5 * 86400, "Sat 9:00 AM"},
                                         BriefCase{-2 * 86400, "Sat 9:00 AM"},
                                         BriefCase{518399, "Sun 8:59 AM"},
                                         BriefCase{518400, "7 Jan 9:00 AM"},
                                         BriefCase{7 * 86400, "8 Jan 9:00 AM"}));

} // namespace
} // namespace marrowbell::app
