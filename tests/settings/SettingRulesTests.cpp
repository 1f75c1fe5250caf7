#include "settings/SettingRules.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

// Minutes truncated as the stepper shows them; only the offered graces are choices;
// sizes in the largest whole unit.
TEST(SettingRules, TimeoutsGracesAndSizes) {
    EXPECT_EQ(SettingRules::timeoutLabel(1), "1 minute");
    EXPECT_EQ(SettingRules::timeoutLabel(61), "1 hour 1 minute");
    EXPECT_EQ(SettingRules::timeoutLabel(150), "2 hours 30 minutes");
    EXPECT_EQ(SettingRules::timeoutLabel(240), "4 hours");
    EXPECT_EQ(SettingRules::timeoutMinutes(119.9), 1);
    EXPECT_EQ(SettingRules::timeoutMinutes(1e300), 1000000000);
    EXPECT_EQ(SettingRules::catchUpChoice(900)->name, "15m");
    EXPECT_TRUE(SettingRules::catchUpChoice(0));
    EXPECT_FALSE(SettingRules::catchUpChoice(1800));
    EXPECT_EQ(SettingRules::sizeText(std::uint64_t(1) << 30), "1 GiB");
    EXPECT_EQ(SettingRules::sizeText(1536u << 10), "1536 KiB");
    EXPECT_EQ(SettingRules::sizeText(1000), "1000 bytes");
}

// Below 1 MiB, beyond 1 TiB, not a number, not a unit: none.
TEST(SettingRules, TranscriptLimitReadsSizesAsPeopleWriteThem) {
    using Size = std::optional<std::uint64_t>;
    for (const auto& [text, bytes] :
         std::initializer_list<std::pair<const char*, Size>>{{"512M", 512u << 20},
                                                             {"1.5g", 3u << 29},
                                                             {"2GiB", std::uint64_t(2) << 30},
                                                             {"64mb", 64u << 20},
                                                             {"1048576", 1u << 20},
                                                             {"1T", std::uint64_t(1) << 40},
                                                             {"1023K", std::nullopt},
                                                             {"2T", std::nullopt},
                                                             {"nan", std::nullopt},
                                                             {"", std::nullopt},
                                                             {"5X", std::nullopt}})
        EXPECT_EQ(SettingRules::transcriptLimit(text), bytes) << text;
}

} // namespace
} // namespace marrowbell
