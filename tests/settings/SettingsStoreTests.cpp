#include "settings/SettingsStore.h"

#include "base/Files.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

const AppSettings defaults{};

TEST(AppSettings, DefaultsAreAnHourAndFailuresOnly) {
    EXPECT_EQ(defaults.defaults.timeoutSeconds, 3600);
    EXPECT_TRUE(defaults.defaults.notifyOnFailureOnly);
    EXPECT_EQ(defaults.defaultHarnessID, std::nullopt);
    EXPECT_EQ(defaults.defaultEndpointID, std::nullopt);
    EXPECT_EQ(defaults.catchUpGraceSeconds, 3600);
    EXPECT_EQ(defaults.transcriptLimitBytes, 1u << 30);
}

struct LoadCase {
    const char* label;
    const char* content;
    AppSettings expected;
    bool damaged = false;
};

AppSettings with(std::function<void(AppSettings&)> change) {
    AppSettings settings;
    change(settings);
    return settings;
}

class SettingsFile : public testing::TestWithParam<LoadCase> {};

// A file that decodes stays as it is; one that does not is set aside whole, never
// rewritten from the defaults.
TEST_P(SettingsFile, LoadsAndKeepsTheFile) {
    test::TempDir dir;
    auto file = dir / "settings.json";
    test::writeFile(file, GetParam().content);
    SettingsStore store(file);
    EXPECT_EQ(store.settings(), GetParam().expected);
    EXPECT_EQ(store.loadProblems().size(), GetParam().damaged ? 1u : 0u);
    auto aside = test::setAside(file);
    ASSERT_EQ(aside.size(), GetParam().damaged ? 1u : 0u);
    EXPECT_EQ(files::read(GetParam().damaged ? aside[0] : file), GetParam().content);
    EXPECT_EQ(std::filesystem::exists(file), !GetParam().damaged);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, SettingsFile,
    testing::Values(
        LoadCase{"OnlyTimeout", R"({"defaults":{"timeoutSeconds":600}})",
                 with([](auto& s) { s.defaults.timeoutSeconds = 600; })},
        LoadCase{"NullsAreMissing",
                 R"({"defaults":null,"defaultHarnessID":null,"defaultEndpointID":null,
                     "catchUpGraceSeconds":null})",
                 defaults},
        LoadCase{"Everything",
                 R"({"defaults":{"timeoutSeconds":900,"notifyOnFailureOnly":false},
                     "defaultHarnessID":"codex",
                     "defaultEndpointID":"6ba7b810-9dad-11d1-80b4-00c04fd430c8",
                     "catchUpGraceSeconds":0,"futureKey":[1]})",
                 with([](auto& s) {
                     s.defaults = {900, false};
                     s.defaultHarnessID = "codex";
                     s.defaultEndpointID = Uuid::parse("6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
                     s.catchUpGraceSeconds = 0;
                 })},
        LoadCase{"TranscriptLimit", R"({"transcriptLimitBytes":5000})",
                 with([](auto& s) { s.transcriptLimitBytes = 5000; })},
        LoadCase{"NegativeTranscriptLimit", R"({"transcriptLimitBytes":-1})", defaults},
        LoadCase{"GraceIsAString", R"({"catchUpGraceSeconds":"soon"})", defaults, true},
        // One bad value costs the whole file: nothing else of it is taken.
        LoadCase{"GraceAlongsideAStringOne",
                 R"({"defaultHarnessID":"pi","catchUpGraceSeconds":"soon"})", defaults, true},
        LoadCase{"EndpointIsNotAUuid", R"({"defaultEndpointID":"studio"})", defaults, true},
        LoadCase{"TimeoutIsAString", R"({"defaults":{"timeoutSeconds":"1h"}})", defaults, true},
        LoadCase{"DefaultsIsNotAnObject", R"({"defaults":true})", defaults, true},
        LoadCase{"AList", "[]", defaults, true}),
    [](const auto& info) { return std::string(info.param.label); });

// A missing file gives the defaults and is written by the first change only.
TEST(SettingsStore, UpdatePersistsSortedPrettyJsonThatReadsBack) {
    test::TempDir dir;
    auto file = dir / "a/settings.json";
    SettingsStore store(file);
    EXPECT_EQ(store.settings(), defaults);
    EXPECT_FALSE(std::filesystem::exists(file));
    Uuid endpoint = *Uuid::parse("6ba7b810-9dad-11d1-80b4-00c04fd430c8");
    store.update([&](AppSettings& s) {
        s.catchUpGraceSeconds = 900;
        s.defaultEndpointID = endpoint;
    });
    EXPECT_EQ(*files::read(file),
              "{\n"
              "  \"catchUpGraceSeconds\": 900.0,\n"
              "  \"defaultEndpointID\": \"6BA7B810-9DAD-11D1-80B4-00C04FD430C8\",\n"
              "  \"defaults\": {\n"
              "    \"notifyOnFailureOnly\": true,\n"
              "    \"timeoutSeconds\": 3600.0\n"
              "  },\n"
              "  \"transcriptLimitBytes\": 1073741824\n"
              "}\n");
    EXPECT_EQ(SettingsStore(file).settings(), store.settings());
}

TEST(SettingsStore, AnUndecodableFileIsSetAsideBeforeTheNextChange) {
    test::TempDir dir;
    auto file = dir / "settings.json";
    const std::string original = R"({"catchUpGraceSeconds":"soon","defaultHarnessID":"pi"})";
    test::writeFile(file, original);
    SettingsStore store(file);
    store.update([](AppSettings& s) { s.defaultHarnessID = "claude"; });
    AppSettings expected;
    expected.defaultHarnessID = "claude";
    EXPECT_EQ(SettingsStore(file).settings(), expected);
    EXPECT_EQ(files::read(test::setAside(file).at(0)), original);
}

} // namespace
} // namespace marrowbell
