#include "harness/HarnessManifest.h"

#include <gtest/gtest.h>

using namespace marrowbell;

namespace {

Json minimalHarness() {
    return Json::parse(R"({
        "id": "tool", "displayName": "Tool", "executableNames": ["tool"],
        "subcommand": [], "headlessFlags": ["-p"], "structuredOutputFlags": ["--json"],
        "promptDelivery": "standardInput", "eventFormat": "piJSON",
        "permissions": {}, "localEndpoint": {"style": "environment", "variable": "BASE"}
    })");
}

std::string decodeError(const Json& harness) {
    try {
        HarnessSpec::decode(harness);
    } catch (const DecodeError& error) {
        return error.what();
    }
    return "decoded";
}

} // namespace

TEST(HarnessSpecTest, OptionalFieldsTakeTheirDefaults) {
    HarnessSpec spec = HarnessSpec::decode(minimalHarness());
    EXPECT_EQ(spec.limitEnforcement, LimitEnforcement::none);
    EXPECT_FALSE(spec.modelFlag || spec.skills || spec.models || spec.sandbox ||
                 spec.endpointProtocol);
    EXPECT_TRUE(spec.apiKeyVariables.empty());
    EXPECT_EQ(spec.eventFormat, EventFormat::piJSON);
    Json harness = minimalHarness();
    harness["skills"] = {{"flag", "--skill"}, {"repeatable", false}};
    EXPECT_EQ(HarnessSpec::decode(harness).skills,
              (SkillSupport{"--skill", false, SkillStyle::additive, std::nullopt, std::nullopt}));
}

// What a newer manifest may add: map keys are dropped, unknown tags fall back.
TEST(HarnessSpecTest, UnknownMapKeysAreDroppedAndUnknownTagsFallBack) {
    Json harness = minimalHarness();
    harness["permissions"] = {{"readOnly", {"--read"}}, {"sudo", {"--all"}}};
    harness["apiKeyVariables"] = {{"gopher", "GOPHER_KEY"}};
    harness["localEndpoint"] = {{"style", "carrierPigeon"}};
    harness["models"] = {{"kind", "scry"}, {"arguments", {"models"}}};
    harness["skills"] = {{"flag", "--skill"},
                         {"repeatable", true},
                         {"source", {{"kind", "other"}, {"arguments", {"skills", "ls"}}}}};
    HarnessSpec spec = HarnessSpec::decode(harness);
    EXPECT_EQ(spec.permissions,
              (decltype(spec.permissions){{PermissionLevel::readOnly, {"--read"}}}));
    EXPECT_TRUE(spec.apiKeyVariables.empty());
    EXPECT_TRUE(std::holds_alternative<LocalEndpointStyle::Unsupported>(spec.localEndpoint.style));
    EXPECT_EQ(std::get<ModelSource::List>(spec.models->kind).arguments,
              std::vector<std::string>{"models"});
    EXPECT_EQ(std::get<SkillSource::Command>(spec.skills->source->kind).arguments,
              (std::vector<std::string>{"skills", "ls"}));
}

// The cases the shipped manifest does not use (the sandbox, the protocol and key
// variables: the ctl preview tests).
TEST(HarnessSpecTest, DecodesEveryPayloadCase) {
    Json harness = minimalHarness();
    harness["localEndpoint"] = Json::parse(R"({"style": "modelPrefix",
        "prefixes": {"ollama": "ollama"}, "providers": {"path": "~/x.json", "key": "provider"}})");
    harness["models"] = Json::parse(R"({"kind": "helpAliases", "flag": "--model",
        "resolve": {"arguments": ["-m", "{model}"], "key": "model"}})");
    harness["skills"] = Json::parse(R"({"flag": "-s", "repeatable": true, "style": "toggle",
        "template": "{skill}={enabled}", "source": {"kind": "table", "arguments": ["ls"],
        "column": 1, "requires": {"column": 2, "hasPrefix": "on"}}})");
    harness["limitEnforcement"] = "toolAllowlist";
    HarnessSpec spec = HarnessSpec::decode(harness);
    auto prefix = std::get<LocalEndpointStyle::ModelPrefix>(spec.localEndpoint.style);
    EXPECT_EQ(prefix.prefixes.at("ollama"), "ollama");
    EXPECT_EQ(prefix.providers, (ProviderSource{"~/x.json", "provider"}));
    auto aliases = std::get<ModelSource::HelpAliases>(spec.models->kind);
    EXPECT_EQ(aliases.resolve, (ModelResolution{{"-m", "{model}"}, "model"}));
    auto table = std::get<SkillSource::Table>(spec.skills->source->kind);
    EXPECT_EQ(table.requirement, (ColumnRequirement{2, "on"}));
    EXPECT_EQ(spec.skills->style, SkillStyle::toggle);
    EXPECT_EQ(spec.limitEnforcement, LimitEnforcement::toolAllowlist);
}

// One row per decoding rule; a null value: the key is removed.
TEST(HarnessSpecTest, ABadKeyIsReportedByName) {
    for (const auto& [key, value, error] :
         std::initializer_list<std::tuple<const char*, Json, const char*>>{
             {"localEndpoint", {{"variable", "BASE"}}, "\"style\" is missing"},
             {"skills", {{"flag", "--skill"}}, "\"repeatable\" is missing"},
             {"models", {{"kind", "list"}}, "\"arguments\" is missing"},
             {"models", {{"kind", "scry"}}, "\"arguments\" is missing"},
             {"eventFormat", "xml", "\"eventFormat\" has an unknown value \"xml\""},
             {"permissions", nullptr, "\"permissions\" is missing"},
             {"promptDelivery", "carrier", "\"promptDelivery\" has an unknown value \"carrier\""},
             {"limitEnforcement", "hope", "\"limitEnforcement\" has an unknown value \"hope\""}}) {
        Json harness = minimalHarness();
        if (value.is_null())
            harness.erase(key);
        else
            harness[key] = value;
        EXPECT_EQ(decodeError(harness), error) << key;
    }
}

TEST(SkillSupportTest, RendersTemplateLiterally) {
    SkillSupport support{"--skill", true, SkillStyle::toggle, "{skill}={enabled}", std::nullopt};
    EXPECT_EQ(support.rendered("lint", false), "lint=false");
    EXPECT_EQ(support.rendered("lint", true), "lint=true");
    support.templateText = "{Skill}:{skill}:{skill}";
    EXPECT_EQ(support.rendered("a", true), "{Skill}:a:a");
    support.templateText.reset();
    EXPECT_EQ(support.rendered("lint", true), std::nullopt);
}

TEST(HarnessManifestTest, OnlyHarnessesIsRequiredAndOneBadHarnessFailsTheWholeDocument) {
    EXPECT_EQ(HarnessManifest::decode(Json::parse(R"({"harnesses": []})")), HarnessManifest{});
    EXPECT_THROW(HarnessManifest::decode({{"harnesses", {minimalHarness(), Json::object()}}}),
                 DecodeError);
    EXPECT_THROW(HarnessManifest::decode(Json::object()), DecodeError);
}

TEST(HarnessManifestTest, SuggestedEndpointKindIsLenient) {
    HarnessManifest manifest = HarnessManifest::decode(Json::parse(R"({"harnesses": [],
        "suggestedEndpoints": [{"name": "A", "baseURL": "http://127.0.0.1:1/v1", "kind": "ollama"},
                               {"name": "B", "baseURL": "http://127.0.0.1:2/v1", "kind": "future"}],
        "shimManagers": [{"pathMarker": "/shims/", "resolver": "mise", "arguments": ["which"]}],
        "defaults": {"schedule": "0 9 * * 1-5", "nonChatModelMarkers": ["embed"]}})"));
    EXPECT_EQ(manifest.suggestedEndpoints[0].kind, EndpointKind::ollama);
    EXPECT_EQ(manifest.suggestedEndpoints[1].kind, EndpointKind::openAICompatible);
    EXPECT_EQ(manifest.shimManagers[0], (ShimManager{"/shims/", "mise", {"which"}}));
    EXPECT_EQ(manifest.defaults.nonChatModelMarkers, std::vector<std::string>{"embed"});
}
