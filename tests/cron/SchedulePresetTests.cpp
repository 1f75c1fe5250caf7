#include "cron/CronExpression.h"
#include "cron/SchedulePreset.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

using P = SchedulePreset;

// Hours and minutes are not range-checked here (99 99); the parser does that later. Every
// preset built from the picker's controls parses back to itself.
TEST(SchedulePreset, MatchingRecognisesThePickerShapesAndAnythingElseIsCustom) {
    EXPECT_EQ(P::matching("*/15 * * * *"), P{P::EveryMinutes{15}});
    EXPECT_EQ(P::matching("0 */2 * * *"), P{P::EveryHours{2}});
    EXPECT_EQ(P::matching("30 9 * * *"), (P{P::Daily{9, 30}}));
    EXPECT_EQ(P::matching("99 99 * * *"), (P{P::Daily{99, 99}}));
    EXPECT_EQ(P::matching("0 9 * * 1-5"), (P{P::Weekdays{9, 0}}));
    EXPECT_EQ(P::matching("0 9 * * 7"), (P{P::Weekly{0, 9, 0}}));
    EXPECT_EQ(P::matching("+5 09 * * 3"), (P{P::Weekly{3, 9, 5}}));
    EXPECT_EQ(P::matching("0 9 15 * *"), (P{P::Monthly{15, 9, 0}}));
    for (const char* text :
         {"0 9  * *", "0 9 * 1 *", "*/15 * * * 1-5", "*/0 * * * *", "00 */2 * * *", "a b * * *",
          "0 9 * * 1-6", "0 9 * * 8", "0 9 0 * *", "0 9 32 * *", "0 9 15 * 1", " 0 9 * * 1-5\n"})
        EXPECT_EQ(P::matching(text), P{P::Custom{text}}) << text;
    EXPECT_EQ((P{P::Weekly{3, 7, 5}}).cron(), "5 7 * * 3");
    EXPECT_EQ(P::matching("0 9 * * 7").cron(), "0 9 * * 0");
    EXPECT_EQ((P{P::EveryHours{3}}).cron(), "0 */3 * * *");
    EXPECT_EQ((P{P::Weekdays{17, 45}}).timeOfDay(),
              (std::pair<std::int64_t, std::int64_t>(17, 45)));
    EXPECT_FALSE((P{P::EveryMinutes{5}}).timeOfDay());
    EXPECT_FALSE((P{P::Custom{"x"}}).timeOfDay());
    for (const P& preset :
         {P{P::EveryMinutes{5}}, P{P::EveryHours{6}}, P{P::Daily{0, 0}}, P{P::Weekdays{9, 0}},
          P{P::Weekly{6, 23, 59}}, P{P::Monthly{31, 12, 30}}})
        EXPECT_EQ(P::matching(CronExpression(preset.cron()).text()), preset);
    for (SchedulePresetKind kind : allSchedulePresetKinds)
        EXPECT_EQ(schedulePresetKindFromRaw(id(kind)), kind);
    EXPECT_FALSE(schedulePresetKindFromRaw("hourly"));
    EXPECT_EQ(P::matching("0 9 * * 2").kind(), SchedulePresetKind::weekly);
}

} // namespace
} // namespace marrowbell
