#include "base/Json.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

test::ProcessResult ctl(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), test::builtBinary("marrowbellctl").string());
    test::TempDir home; // never the user's own data
    return test::runProcess(arguments, "",
                            {"XDG_DATA_HOME=" + home.path().string(), "TZ=Europe/Berlin"});
}

TEST(CtlCron, PrintsTextDescriptionsAndNextTimesInTheZone) {
    auto result = ctl({"cron", "--zone", "America/New_York", "--after", "2026-03-07T12:00:00Z",
                       "--count", "3", "  30 2  * * * "});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    // No 02:30 on 8 March: the clocks jump from 02:00 to 03:00.
    EXPECT_EQ(result.out, "30 2 * * *\n"
                          "Every day at 2:30 AM\n"
                          "Daily 2:30 AM\n"
                          "2026-03-09T02:30:00-04:00\n"
                          "2026-03-10T02:30:00-04:00\n"
                          "2026-03-11T02:30:00-04:00\n");
    EXPECT_EQ(result.err, "");
}

TEST(CtlCron, DefaultsToFiveTimesInTheSystemZone) {
    auto result = ctl({"cron", "--after=@1780000000.5", "0 9 * * 1-5"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    // 1780000000.5 is Thursday 2026-05-28 20:26:40.5 UTC.
    EXPECT_EQ(result.out, "0 9 * * 1-5\n"
                          "Every weekday at 9:00 AM\n"
                          "Weekdays 9:00 AM\n"
                          "2026-05-29T09:00:00+02:00\n"
                          "2026-06-01T09:00:00+02:00\n"
                          "2026-06-02T09:00:00+02:00\n"
                          "2026-06-03T09:00:00+02:00\n"
                          "2026-06-04T09:00:00+02:00\n");
}

TEST(CtlCron, JsonHoldsOneObject) {
    auto result = ctl({"cron", "--json", "--zone", "UTC", "--after", "2026-01-01T10:05:30+00:00",
                       "--count", "2", "*/20 * * * *"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(Json::parse(result.out),
              Json({{"text", "*/20 * * * *"},
                    {"plainEnglish", "Every 20 minutes"},
                    {"compactEnglish", "Every 20 min"},
                    {"next", {"2026-01-01T10:20:00+00:00", "2026-01-01T10:40:00+00:00"}}}));
    auto never = ctl({"cron", "--json", "0 0 31 2 *"});
    ASSERT_EQ(never.exitStatus, 0);
    EXPECT_EQ(Json::parse(never.out)["next"], Json::array());
}

TEST(CtlCron, OffsetsAndFractionsInAfterAreHonoured) {
    auto result = ctl({"cron", "--zone", "Asia/Kolkata", "--after", "2026-01-01T09:59:59.999+05:30",
                       "--count", "1", "0 10 * * *"});
    EXPECT_EQ(result.out.substr(result.out.rfind('\n', result.out.size() - 2) + 1),
              "2026-01-01T10:00:00+05:30\n");
}

TEST(CtlCron, RefusedExpressionPrintsTheCronErrorWithStatusTwo) {
    auto result = ctl({"cron", "0 9 * *"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "A cron expression needs 5 fields (minute hour day month weekday); found 4.\n");
    auto field = ctl({"cron", "--json", "0,99 * * * *"});
    EXPECT_EQ(field.exitStatus, 2);
    EXPECT_EQ(field.err, "The minute field does not accept \"99\".\n");
}

class CtlCronUsage : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(CtlCronUsage, BadArgumentsExitWithStatusTwo) {
    auto arguments = GetParam();
    arguments.insert(arguments.begin(), "cron");
    auto result = ctl(arguments);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("marrowbellctl: "), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CtlCronUsage,
    testing::Values(std::vector<std::string>{}, std::vector<std::string>{"0", "9", "*", "*", "*"},
                    std::vector<std::string>{"--zone", "Mars/Base", "* * * * *"},
                    std::vector<std::string>{"--zone"},
                    std::vector<std::string>{"--count", "-1", "* * * * *"},
                    std::vector<std::string>{"--count", "many", "* * * * *"},
                    std::vector<std::string>{"--count", "99999999999999999999", "* * * * *"},
                    std::vector<std::string>{"--after", "2026-03-07T12:00:00", "* * * * *"},
                    std::vector<std::string>{"--after", "2026-02-30T12:00:00Z", "* * * * *"},
                    std::vector<std::string>{"--after", "@inf", "* * * * *"},
                    std::vector<std::string>{"--after", "@1e9", "* * * * *"},
                    std::vector<std::string>{"--after", "yesterday", "* * * * *"},
                    std::vector<std::string>{"--verbose", "* * * * *"}));

TEST(CtlCron, DoubleDashEndsTheOptions) {
    auto result = ctl({"cron", "--count", "1", "--", "--json"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.err,
              "A cron expression needs 5 fields (minute hour day month weekday); found 1.\n");
}

} // namespace
} // namespace marrowbell
