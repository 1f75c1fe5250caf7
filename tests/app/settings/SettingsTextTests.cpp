#include "settings/SettingsText.h"
#include "settings/Updates.h"

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

struct ModelsCase {
    std::vector<std::string> models;
    const char* line;
};

class ModelsLine : public testing::TestWithParam<ModelsCase> {};

TEST_P(ModelsLine, ShowsFourAndCountsTheRest) {
    EXPECT_EQ(SettingsText::modelsLine(GetParam().models), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ModelsLine,
    testing::Values(ModelsCase{{"a"}, "a"}, ModelsCase{{"a", "b", "c", "d"}, "a, b, c, d"},
                    ModelsCase{{"a", "b", "c", "d", "e", "f"}, "a, b, c, d, +2 more"}));

HarnessSpec harness(std::string name, LocalEndpointStyle style) {
    HarnessSpec spec;
    spec.id = name;
    spec.displayName = std::move(name);
    spec.localEndpoint = std::move(style);
    return spec;
}

TEST(ApiKeyHint, NamesTheStoreInUseAndTheHarnessesThatCannotTakeAnEndpoint) {
    const std::vector<HarnessSpec> harnesses{
        harness("Claude Code", {LocalEndpointStyle::Environment{"ANTHROPIC_BASE_URL"}}),
        harness("Codex", {LocalEndpointStyle::Unsupported{}}),
        harness("Pi", {LocalEndpointStyle::Unsupported{}})};
    EXPECT_EQ(SettingsText::apiKeyHint(SecretStore::Backend::secretService, harnesses),
              "Stored in your keyring, never in the endpoint file. Codex, Pi cannot be pointed at "
              "an endpoint for a single run, so a job on it will not use this.");
    EXPECT_EQ(SettingsText::apiKeyHint(SecretStore::Backend::file, {harnesses[0]}),
              "Stored in a private file (secrets.json, readable only by you), never in the "
              "endpoint file.");
}

TEST(Version, AddsTheBuildOnlyWhenItSaysMore) {
    EXPECT_EQ(Updates::versionText("0.1.0", "8ea9d23"), "0.1.0 (8ea9d23)");
    EXPECT_EQ(Updates::versionText("0.1.0", "0.1.0"), "0.1.0");
    EXPECT_EQ(Updates::versionText("0.1.0", ""), "0.1.0");
    EXPECT_EQ(Updates::versionText("", ""), "\u2014");
}

} // namespace
} // namespace marrowbell::app
