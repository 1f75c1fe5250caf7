#include "settings/SettingRules.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

struct LabelCase {
    int minutes;
    const char* label;
};

class TimeoutLabel : public testing::TestWithParam<LabelCase> {};

TEST_P(TimeoutLabel, WritesHoursAndTheMinutesLeft) {
    EXPECT_EQ(SettingRules::timeoutLabel(GetParam().minutes), GetParam().label);
}

INSTANTIATE_TEST_SUITE_P(Minutes, TimeoutLabel,
                         testing::Values(LabelCase{1, "1 minute"}, LabelCase{60, "1 hour"},
                                         LabelCase{61, "1 hour 1 minute"},
                                         LabelCase{150, "2 hours 30 minutes"},
                                         LabelCase{240, "4 hours"}));

TEST(SettingRules, TimeoutMinutesAreTruncatedAsTheStepperShowsThem) {
    EXPECT_EQ(SettingRules::timeoutMinutes(3600), 60);
    EXPECT_EQ(SettingRules::timeoutMinutes(119.9), 1);
    EXPECT_EQ(SettingRules::timeoutMinutes(1e300), 1000000000);
}

TEST(SettingRules, OnlyTheOfferedGracesAreChoices) {
    EXPECT_EQ(SettingRules::catchUpChoice(900)->name, "15m");
    EXPECT_TRUE(SettingRules::catchUpChoice(0));
    EXPECT_FALSE(SettingRules::catchUpChoice(1800));
}

struct SizeCase {
    const char* text;
    std::optional<std::uint64_t> bytes;
};

class TranscriptLimit : public testing::TestWithParam<SizeCase> {};

TEST_P(TranscriptLimit, ReadsSizesAsPeopleWriteThem) {
    EXPECT_EQ(SettingRules::transcriptLimit(GetParam().text), GetParam().bytes) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TranscriptLimit,
    testing::Values(SizeCase{"512M", 512u << 20}, SizeCase{"1.5g", 3u << 29},
                    SizeCase{"2GiB", std::uint64_t(2) << 30}, SizeCase{"64mb", 64u << 20},
                    SizeCase{"1048576", 1u << 20}, SizeCase{"1T", std::uint64_t(1) << 40},
                    // Below 1 MiB, beyond 1 TiB, or no size at all.
                    SizeCase{"1023K", std::nullopt}, SizeCase{"2T", std::nullopt},
                    SizeCase{"-1G", std::nullopt}, SizeCase{"G", std::nullopt},
                    SizeCase{"5 G", std::nullopt}, SizeCase{"5X", std::nullopt},
                    SizeCase{"nan", std::nullopt}, SizeCase{"", std::nullopt}));

TEST(SettingRules, SizeTextUsesTheLargestWholeUnit) {
    EXPECT_EQ(SettingRules::sizeText(std::uint64_t(1) << 30), "1 GiB");
    EXPECT_EQ(SettingRules::sizeText(1536u << 10), "1536 KiB");
    EXPECT_EQ(SettingRules::sizeText(1000), "1000 bytes");
}

} // namespace
} // namespace marrowbell
