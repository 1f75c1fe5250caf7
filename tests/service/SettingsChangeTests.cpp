#include "harness/HarnessRegistry.h"
#include "service/SettingsChange.h"
#include "support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace marrowbell {
namespace {

using Key = SettingsChange::Key;

class SettingsChangeTest : public testing::Test {
protected:
    SettingsChangeTest() {
        test::writeFile(tools / "claude", "#!/bin/sh\n", true);
        context.searchPaths = std::vector<std::string>{tools.path().string()};
    }

    test::TempDir tools;
    HarnessRegistry registry = HarnessRegistry::bundled();
    SettingsChange::Context context{
        registry,
        {Endpoint{Uuid::random(), "Studio", *Endpoint::validated("http://127.0.0.1:1/v1"),
                  EndpointKind::lmStudio}},
        {}};
};

struct Setting {
    const char* key;
    const char* value;
    std::function<void(AppSettings&, const Endpoint& studio)> expected;
    const char* shown; // how the value is shown, up to its end
};

class EachKey : public SettingsChangeTest, public testing::WithParamInterface<Setting> {};

// Each key sets its own setting, shown as it was given; reset gives the default back.
TEST_P(EachKey, SetsItsOwnSettingAndResetUndoesIt) {
    const Key key = *SettingsChange::key(GetParam().key);
    AppSettings settings, expected;
    SettingsChange::set(key, GetParam().value, context).apply(settings);
    GetParam().expected(expected, context.endpoints[0]);
    EXPECT_EQ(settings, expected);
    EXPECT_EQ(
        SettingsChange::valueText(key, settings, context.endpoints).rfind(GetParam().shown, 0), 0u)
        << SettingsChange::valueText(key, settings, context.endpoints);
    SettingsChange::reset(key).apply(settings);
    EXPECT_EQ(settings, AppSettings{});
}

INSTANTIATE_TEST_SUITE_P(
    Keys, EachKey,
    testing::Values(
        Setting{"catch-up", "15m", [](auto& s, auto&) { s.catchUpGraceSeconds = 900; },
                "15m (Up to 15"},
        Setting{"default-timeout", "240", [](auto& s, auto&) { s.defaults.timeoutSeconds = 14400; },
                "240 (4 hours)"},
        Setting{"notify", "all", [](auto& s, auto&) { s.defaults.notifyOnFailureOnly = false; },
                "all (after every run)"},
        Setting{"default-harness", "claude", [](auto& s, auto&) { s.defaultHarnessID = "claude"; },
                "claude"},
        Setting{"default-endpoint", "studio", [](auto& s, auto& e) { s.defaultEndpointID = e.id; },
                "Studio ("},
        Setting{"transcript-limit", "512M",
                [](auto& s, auto&) { s.transcriptLimitBytes = 512u << 20; }, "512 MiB"}),
    [](const auto& info) { return std::string(info.param.value); });

TEST_F(SettingsChangeTest, AHarnessNotInstalledIsSetWithANote) {
    EXPECT_FALSE(SettingsChange::set(Key::defaultHarness, "claude", context).note());
    auto change = SettingsChange::set(Key::defaultHarness, "codex", context);
    ASSERT_TRUE(change.note());
    EXPECT_NE(change.note()->find("Codex was not found"), std::string::npos) << *change.note();
    EXPECT_FALSE(SettingsChange::key("colour"));
}

struct Refused {
    const char* key;
    const char* value;
    const char* message; // expected within the refusal
};

class SettingsChangeRefuses : public SettingsChangeTest,
                              public testing::WithParamInterface<Refused> {};

TEST_P(SettingsChangeRefuses, ValuesTheSettingsWindowCouldNotStore) {
    EXPECT_THAT(
        [&] {
            SettingsChange::set(*SettingsChange::key(GetParam().key), GetParam().value, context);
        },
        testing::ThrowsMessage<SettingsChange::Refusal>(testing::HasSubstr(GetParam().message)));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsChangeRefuses,
    testing::Values(Refused{"catch-up", "30m", "never, 15m, 1h or 4h, not \u201C30m\u201D"},
                    Refused{"default-timeout", "0", "whole minutes from 1 to 240"},
                    Refused{"default-timeout", "241", "whole minutes from 1 to 240"},
                    Refused{"default-timeout", "1.5", "whole minutes from 1 to 240"},
                    Refused{"notify", "never", "notify takes failures or all"},
                    Refused{"default-harness", "cursor", "known harnesses: claude, codex"},
                    Refused{"default-endpoint", "Cloud", "no endpoint is named"},
                    Refused{"transcript-limit", "1K", "a size from 1 MiB to 1 TiB"}));

} // namespace
} // namespace marrowbell
