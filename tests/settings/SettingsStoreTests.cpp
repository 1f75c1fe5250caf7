#include "settings/SettingsStore.h"

#include "base/Files.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

const AppSettings defaults{};

AppSettings with(std::function<void(AppSettings&)> change) {
    AppSettings settings;
    change(settings);
    return settings;
}

struct LoadCase {
    const char* label;
    const char* content;
    AppSettings expected = defaults;
    bool damaged = true;
};

class SettingsFile : public testing::TestWithParam<LoadCase> {};

// A file that decodes stays as it is; one that does not is set aside whole, never
// rewritten from the defaults, and nothing of it is taken.
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
}

INSTANTIATE_TEST_SUITE_P(
    Contents, SettingsFile,
    testing::Values(
        LoadCase{"OnlyTimeout", R"({"defaults":{"timeoutSeconds":600}})",
                 with([](auto& s) { s.defaults.timeoutSeconds = 600; }), false},
        LoadCase{"NullsAreMissing",
                 R"({"defaults":null,"defaultHarnessID":null,"defaultEndpointID":null,
                     "catchUpGraceSeconds":null,"transcriptLimitBytes":-1})",
                 defaults, false},
        LoadCase{"Everything",
                 R"({"defaults":{"timeoutSeconds":900,"notifyOnFailureOnly":false},
                     "defaultHarnessID":"codex", "transcriptLimitBytes":5000,
                     "defaultEndpointID":"6ba7b810-9dad-11d1-80b4-00c04fd430c8",
                     "catchUpGraceSeconds":0,"futureKey":[1]})",
                 with([](auto& s) {
                     s.defaults = {900, false};
                     s.defaultHarnessID = "codex";
                     s.defaultEndpointID = Uuid::parse("6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
                     s.catchUpGraceSeconds = 0;
                     s.transcriptLimitBytes = 5000;
                 }),
                 false},
        LoadCase{"GraceIsAString", R"({"defaultHarnessID":"pi","catchUpGraceSeconds":"soon"})"},
        LoadCase{"EndpointIsNotAUuid", R"({"defaultEndpointID":"studio"})"},
        LoadCase{"TimeoutIsAString", R"({"defaults":{"timeoutSeconds":"1h"}})"},
        LoadCase{"NotifyIsAString", R"({"defaults":{"notifyOnFailureOnly":"yes"}})"},
        LoadCase{"DefaultsIsNotAnObject", R"({"defaults":true})"}, LoadCase{"AList", "[]"}),
    [](const auto& info) { return std::string(info.param.label); });

// A missing file gives the defaults and is written by the first change only.
TEST(SettingsStore, UpdatePersistsSortedPrettyJsonThatReadsBack) {
    test::TempDir dir;
    auto file = dir / "a/settings.json";
    SettingsStore store(file);
    EXPECT_EQ(store.settings(), defaults);
    EXPECT_FALSE(std::filesystem::exists(file));
    store.update([&](AppSettings& s) {
        s.catchUpGraceSeconds = 900;
        s.defaultEndpointID = Uuid::parse("6ba7b810-9dad-11d1-80b4-00c04fd430c8");
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

} // namespace
} // namespace marrowbell
