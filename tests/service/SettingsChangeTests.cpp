#include "harness/HarnessRegistry.h"
#include "service/SettingsChange.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace marrowbell {
namespace {

using Key = SettingsChange::Key;

class SettingsChangeTest : public testing::Test {
protected:
    SettingsChangeTest() {
        test::writeFile(tools / "claude", "#!/bin/sh\n", true);
        studio = Endpoint{Uuid::random(), "Studio", *Endpoint::validated("http://127.0.0.1:1/v1"),
                          EndpointKind::lmStudio};
        context.endpoints = {studio};
        context.searchPaths = std::vector<std::string>{tools.path().string()};
    }

    AppSettings applied(const std::string& name, std::string_view value) const {
        AppSettings settings;
        SettingsChange::set(*SettingsChange::key(name), value, context).apply(settings);
        return settings;
    }

    test::TempDir tools;
    HarnessRegistry registry = HarnessRegistry::bundled();
    Endpoint studio;
    SettingsChange::Context context{registry, {}, {}};
};

TEST_F(SettingsChangeTest, EachKeySetsItsOwnSetting) {
    AppSettings expected;
    expected.catchUpGraceSeconds = 900;
    EXPECT_EQ(applied("catch-up", "15m"), expected);
    expected = {};
    expected.defaults.timeoutSeconds = 240 * 60;
    EXPECT_EQ(applied("default-timeout", "240"), expected);
    expected = {};
    expected.defaults.notifyOnFailureOnly = false;
    EXPECT_EQ(applied("notify", "all"), expected);
    expected = {};
    expected.defaultHarnessID = "claude";
    EXPECT_EQ(applied("default-harness", "claude"), expected);
    expected = {};
    expected.defaultEndpointID = studio.id;
    EXPECT_EQ(applied("default-endpoint", "studio"), expected);
    expected = {};
    expected.transcriptLimitBytes = 512u << 20;
    EXPECT_EQ(applied("transcript-limit", "512M"), expected);
}

TEST_F(SettingsChangeTest, ResetGivesEveryKeyItsDefaultAgain) {
    AppSettings changed;
    changed.catchUpGraceSeconds = 0;
    changed.defaults = {60, false};
    changed.defaultHarnessID = "pi";
    changed.defaultEndpointID = studio.id;
    changed.transcriptLimitBytes = 1u << 20;
    for (const SettingsChange::KeyInfo& info : SettingsChange::keys())
        SettingsChange::reset(info.key).apply(changed);
    EXPECT_EQ(changed, AppSettings{});
}

TEST_F(SettingsChangeTest, AHarnessNotInstalledIsSetWithANote) {
    EXPECT_FALSE(SettingsChange::set(Key::defaultHarness, "claude", context).note());
    auto change = SettingsChange::set(Key::defaultHarness, "codex", context);
    ASSERT_TRUE(change.note());
    EXPECT_NE(change.note()->find("Codex was not found"), std::string::npos) << *change.note();
}

struct Refused {
    const char* key;
    const char* value;
    const char* message; // expected within the refusal
};

class SettingsChangeRefuses : public SettingsChangeTest,
                              public testing::WithParamInterface<Refused> {};

TEST_P(SettingsChangeRefuses, ValuesTheSettingsWindowCouldNotStore) {
    const Refused& row = GetParam();
    try {
        SettingsChange::set(*SettingsChange::key(row.key), row.value, context);
        ADD_FAILURE() << row.key << " accepted " << row.value;
    } catch (const SettingsChange::Refusal& refusal) {
        EXPECT_NE(std::string(refusal.what()).find(row.message), std::string::npos)
            << refusal.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsChangeRefuses,
    testing::Values(
        Refused{"catch-up", "30m", "catch-up takes never, 15m, 1h or 4h, not \u201C30m\u201D"},
        Refused{"default-timeout", "0", "whole minutes from 1 to 240"},
        Refused{"default-timeout", "241", "whole minutes from 1 to 240"},
        Refused{"default-timeout", "1.5", "whole minutes from 1 to 240"},
        Refused{"notify", "never", "notify takes failures or all"},
        Refused{"default-harness", "cursor", "known harnesses: claude, codex, opencode, pi"},
        Refused{"default-endpoint", "Cloud", "no endpoint is named or identified by"},
        Refused{"transcript-limit", "1K", "a size from 1 MiB to 1 TiB"}));

} // namespace
} // namespace marrowbell
