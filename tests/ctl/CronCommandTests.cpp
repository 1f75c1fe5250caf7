#include "ctl/SchedulerCommandSupport.h"

namespace marrowbell {
namespace {

using CtlCron = test::CtlTest;

// The text form in the zone asked for; JSON holds one object with five times in the
// system's zone unless told, and the offset and fraction of --after are kept (a
// millisecond before 10:20 UTC).
TEST_F(CtlCron, PrintsDescriptionsAndNextTimesAsTextOrJson) {
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

    env.push_back("TZ=Europe/Berlin");
    result = ctl({"cron", "--json", "--after", "2026-01-01T15:49:59.999+05:30", "*/20 * * * *"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(Json::parse(result.out),
              Json({{"text", "*/20 * * * *"},
                    {"plainEnglish", "Every 20 minutes"},
                    {"compactEnglish", "Every 20 min"},
                    {"next",
                     {"2026-01-01T11:20:00+01:00", "2026-01-01T11:40:00+01:00",
                      "2026-01-01T12:00:00+01:00", "2026-01-01T12:20:00+01:00",
                      "2026-01-01T12:40:00+01:00"}}}));
    EXPECT_EQ(Json::parse(ctl({"cron", "--json", "0 0 31 2 *"}).out)["next"], Json::array());
}

} // namespace
} // namespace marrowbell
