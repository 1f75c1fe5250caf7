#include "harness/CommandBuilder.h"
#include "harness/HarnessRegistry.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;

HarnessSpec toolSpec() {
    HarnessSpec spec;
    spec.id = "tool";
    spec.displayName = "Tool";
    spec.executableNames = {"tool"};
    spec.subcommand = {"run"};
    spec.headlessFlags = {"--quiet"};
    spec.structuredOutputFlags = {"--json"};
    spec.promptDelivery = PromptDelivery::positional;
    spec.modelFlag = "--model";
    spec.localEndpoint = {LocalEndpointStyle::Environment{"BASE_URL"}};
    spec.permissions = {{PermissionLevel::readOnly, {"--read-only"}},
                        {PermissionLevel::scopedWrite, {"--write"}}};
    return spec;
}

Endpoint endpoint(EndpointKind kind, const std::string& name = "Box",
                  const std::string& url = "http://127.0.0.1:1234/v1") {
    return Endpoint{Uuid::random(), name, Url{url}, kind};
}

RunRequest request(PermissionLevel permission = PermissionLevel::readOnly) {
    RunRequest request;
    request.prompt = "Tidy the notes";
    request.workingDirectory = "/work/project";
    request.permission = permission;
    return request;
}

BuiltCommand build(const HarnessSpec& spec, const RunRequest& request) {
    return CommandBuilder().build(spec, "/opt/tool/bin/tool", request);
}

} // namespace

TEST(CommandBuilderTest, BuildsTheWholeCommandLineInOrder) {
    RunRequest asked = request(PermissionLevel::scopedWrite);
    asked.model = "  big-model \n";
    HarnessSpec spec = toolSpec();
    spec.scopedWriteDirectoryFlag = "--cd";
    BuiltCommand command = build(spec, asked);
    EXPECT_EQ(command.executable, "/opt/tool/bin/tool");
    EXPECT_EQ(command.arguments,
              (Strings{"run", "--quiet", "--json", "--write", "--cd", "/work/project", "--model",
                       "big-model", "Tidy the notes"}));
    EXPECT_EQ(
        command.displayString(),
        "tool run --quiet --json --write --cd /work/project --model big-model \"Tidy the notes\"");
    EXPECT_EQ(command.workingDirectory, "/work/project");
    EXPECT_EQ(command.standardInput, std::nullopt);
    EXPECT_TRUE(command.warnings.empty());
    EXPECT_EQ(command.environment.at("PATH"), "/opt/tool/bin:/usr/bin:/bin:/usr/sbin:/sbin");
    EXPECT_EQ(command.environment.at("PWD"), "/work/project");
}

TEST(CommandBuilderTest, StandardInputCarriesThePrompt) {
    HarnessSpec spec = toolSpec();
    spec.promptDelivery = PromptDelivery::standardInput;
    BuiltCommand command = build(spec, request());
    EXPECT_EQ(command.arguments, (Strings{"run", "--quiet", "--json", "--read-only"}));
    EXPECT_EQ(command.standardInput, "Tidy the notes");
}

TEST(CommandBuilderTest, AnEmptyScopedWriteEntryWithADirectoryFlagNeedsNoWarning) {
    HarnessSpec spec = toolSpec();
    spec.permissions = {{PermissionLevel::scopedWrite, {}}};
    spec.scopedWriteDirectoryFlag = "--dir";
    BuiltCommand command = build(spec, request(PermissionLevel::scopedWrite));
    EXPECT_EQ(command.arguments,
              (Strings{"run", "--quiet", "--json", "--dir", "/work/project", "Tidy the notes"}));
    EXPECT_TRUE(command.warnings.empty());
}

TEST(CommandBuilderTest, AMissingLevelWarnsWhenNoSandboxStepsIn) {
    HarnessSpec spec = toolSpec();
    spec.sandbox = SandboxSupport{{"~/.tool"}};
    BuiltCommand command = build(spec, request(PermissionLevel::fullAccess));
    EXPECT_EQ(command.executable, "/opt/tool/bin/tool");
    EXPECT_EQ(
        command.warnings,
        Strings{"Tool has no flag for \"Anywhere on this computer (full access)\". This run is "
                "not sandboxed by the harness; confine it with a worktree or a scoped folder "
                "instead."});
}

TEST(CommandBuilderTest, ReadOnlyWithoutFlagsIsWrappedInTheSandbox) {
    HarnessSpec spec = toolSpec();
    spec.permissions = {{PermissionLevel::readOnly, {}}};
    spec.sandbox = SandboxSupport{{"~/.tool"}};
    BuiltCommand command = build(spec, request());
    SandboxProfile profile{"/work/project", {"~/.tool"}, false};
    EXPECT_EQ(command.executable, SandboxProfile::executable());
    EXPECT_EQ(command.arguments, (Strings{"-p", profile.text(), "/opt/tool/bin/tool", "run",
                                          "--quiet", "--json", "Tidy the notes"}));
    EXPECT_TRUE(command.warnings.empty());
    // The harness's own folder leads PATH, not the launcher's.
    EXPECT_EQ(command.environment.at("PATH"), "/opt/tool/bin:/usr/bin:/bin:/usr/sbin:/sbin");
    EXPECT_EQ(CommandBuilder::sandboxProfile(spec, request(PermissionLevel::scopedWrite)),
              (SandboxProfile{"/work/project", {"~/.tool"}, true}));
    spec.permissions = {{PermissionLevel::readOnly, {"--read-only"}}};
    EXPECT_EQ(CommandBuilder::sandboxProfile(spec, request()), std::nullopt);
    EXPECT_EQ(CommandBuilder::sandboxProfile(spec, request(PermissionLevel::fullAccess)),
              std::nullopt);
}

TEST(CommandBuilderTest, ModelsArePrefixedForPrefixRoutedEndpoints) {
    HarnessSpec spec = toolSpec();
    spec.localEndpoint = {LocalEndpointStyle::ModelPrefix{{{"ollama", "P"}}, std::nullopt}};
    RunRequest asked = request();
    asked.endpoint = endpoint(EndpointKind::ollama);
    asked.model = "M";
    EXPECT_EQ(CommandBuilder::resolvedModel(spec, asked), "P/M");
    asked.model = "P/M";
    EXPECT_EQ(CommandBuilder::resolvedModel(spec, asked), "P/M");
    asked.endpoint = endpoint(EndpointKind::lmStudio);
    asked.model = "M";
    EXPECT_EQ(CommandBuilder::resolvedModel(spec, asked), "M");
    asked.model = "   ";
    EXPECT_EQ(CommandBuilder::resolvedModel(spec, asked), std::nullopt);
    EXPECT_EQ(build(spec, asked).arguments,
              (Strings{"run", "--quiet", "--json", "--read-only", "Tidy the notes"}));
}

TEST(CommandBuilderTest, AnAnthropicOnlyHarnessRefusesAnOpenAIEndpoint) {
    HarnessSpec spec = toolSpec();
    spec.endpointProtocol = EndpointProtocol::anthropic;
    spec.apiKeyVariables = {{EndpointProtocol::openAI, "OPENAI_KEY"}};
    RunRequest asked = request();
    asked.endpoint = endpoint(EndpointKind::lmStudio, "Studio");
    asked.apiKey = "secret";
    BuiltCommand command = build(spec, asked);
    EXPECT_FALSE(command.environment.count("BASE_URL"));
    EXPECT_FALSE(command.environment.count("OPENAI_KEY"));
    EXPECT_EQ(
        command.warnings,
        Strings{"Tool speaks the Anthropic protocol and Studio answers in OpenAI. The endpoint "
                "was not applied — a run would get a reply it cannot read."});
    EXPECT_EQ(CommandBuilder::compatibility(spec, asked.endpoint, std::nullopt),
              (EndpointCompatibility{EndpointCompatibility::WrongProtocol{
                  EndpointProtocol::anthropic, EndpointProtocol::openAI}}));
}

TEST(CommandBuilderTest, EndpointStylesAndTheirWarnings) {
    RunRequest asked = request();
    asked.endpoint = endpoint(EndpointKind::openAICompatible, "Gateway", "https://gw.example/v1");
    HarnessSpec spec = toolSpec();
    EXPECT_EQ(build(spec, asked).environment.at("BASE_URL"), "https://gw.example/v1");

    spec.localEndpoint = {
        LocalEndpointStyle::LocalProvider{{"--oss"}, "--local-provider", {{"ollama", "ollama"}}}};
    BuiltCommand local = build(spec, asked);
    EXPECT_EQ(local.arguments,
              (Strings{"run", "--quiet", "--json", "--read-only", "--oss", "Tidy the notes"}));
    EXPECT_EQ(local.warnings,
              Strings{"Tool names its local providers rather than taking a URL, and "
                      "has none for OpenAI-compatible. It will use its configured "
                      "default."});
    asked.endpoint = endpoint(EndpointKind::ollama);
    EXPECT_EQ(build(spec, asked).arguments,
              (Strings{"run", "--quiet", "--json", "--read-only", "--oss", "--local-provider",
                       "ollama", "Tidy the notes"}));

    spec.localEndpoint = {LocalEndpointStyle::ModelPrefix{{{"ollama", "ollama"}}, std::nullopt}};
    EXPECT_EQ(build(spec, asked).warnings,
              Strings{"Tool routes to Box through the model name, so without one it will use its "
                      "configured default instead."});
    spec.localEndpoint = {LocalEndpointStyle::Unsupported{}};
    EXPECT_EQ(
        build(spec, asked).warnings,
        Strings{"Tool cannot be pointed at Box for a single run. Configure the endpoint in its "
                "own settings file instead."});
}

LocalEndpointStyle::Configuration
configurationStyle(LocalEndpointStyle::Configuration::Delivery delivery) {
    LocalEndpointStyle::Configuration style;
    style.delivery = delivery;
    style.flag = "-c";
    style.variable = "TOOL_CONFIG";
    style.fileName = "models.json";
    style.model = "mine/{model}";
    style.content["openAI"] = Json::parse(R"({"provider": "mine", "providers": {"mine":
        {"url": "{baseURL}/chat", "title": "{endpointName}", "key": "{env:{keyVariable}}",
         "models": ["{model}"], "{model}": {"id": "{model}"}, "tries": 0}}})");
    return style;
}

// One row per delivery: where the rendered configuration ends up.
struct DeliveryCase {
    LocalEndpointStyle::Configuration::Delivery delivery;
    Strings extraArguments;
    std::optional<std::string> environment;
    std::optional<std::string> file;
};

class ConfigurationDeliveryTest : public testing::TestWithParam<DeliveryCase> {};

TEST_P(ConfigurationDeliveryTest, RendersTheEndpointForThisRunAlone) {
    HarnessSpec spec = toolSpec();
    spec.localEndpoint = {configurationStyle(GetParam().delivery)};
    spec.apiKeyVariables = {{EndpointProtocol::openAI, "TOOL_KEY"}};
    spec.sandbox = SandboxSupport{{"~/.tool"}};
    RunRequest asked = request(PermissionLevel::scopedWrite);
    asked.endpoint = endpoint(EndpointKind::openAICompatible, "Gate \"A\"", "http://h:1/v1/");
    asked.model = " m1 ";
    asked.apiKey = "sk-secret";
    asked.privateFolder = "/run/private";
    BuiltCommand command = build(spec, asked);
    Strings expected{"run", "--quiet", "--json", "--write", "--model", "mine/m1"};
    expected.insert(expected.end(), GetParam().extraArguments.begin(),
                    GetParam().extraArguments.end());
    expected.push_back("Tidy the notes");
    ASSERT_GE(command.arguments.size(), 3u);
    EXPECT_EQ(Strings(command.arguments.begin() + 3, command.arguments.end()), expected);
    EXPECT_EQ(command.environment.at("TOOL_KEY"), "sk-secret");
    for (const std::string& argument : command.arguments)
        EXPECT_EQ(argument.find("sk-secret"), std::string::npos);
    if (GetParam().environment)
        EXPECT_EQ(Json::parse(command.environment.at("TOOL_CONFIG")),
                  Json::parse(*GetParam().environment));
    if (GetParam().file) {
        EXPECT_EQ(command.environment.at("TOOL_CONFIG"), "/run/private");
        EXPECT_EQ(Json::parse(command.privateFiles.at("models.json")),
                  Json::parse(*GetParam().file));
        EXPECT_NE(command.arguments[1].find("/run/private"), std::string::npos)
            << "the private folder is writable in the sandbox";
    } else {
        EXPECT_TRUE(command.privateFiles.empty());
    }
    EXPECT_TRUE(command.warnings.empty());
}

const char* renderedDocument =
    R"({"provider": "mine", "providers": {"mine": {"url": "http://h:1/v1/chat",
        "title": "Gate \"A\"", "key": "{env:TOOL_KEY}", "models": ["m1"], "m1": {"id": "m1"},
        "tries": 0}}})";

INSTANTIATE_TEST_SUITE_P(
    Deliveries, ConfigurationDeliveryTest,
    testing::Values(
        DeliveryCase{LocalEndpointStyle::Configuration::Delivery::overrides,
                     {"-c", "provider=\"mine\"", "-c", "providers.mine.key=\"{env:TOOL_KEY}\"",
                      "-c", "providers.mine.m1.id=\"m1\"", "-c", "providers.mine.models=[\"m1\"]",
                      "-c", "providers.mine.title=\"Gate \\\"A\\\"\"", "-c",
                      "providers.mine.tries=0", "-c", "providers.mine.url=\"http://h:1/v1/chat\""},
                     std::nullopt,
                     std::nullopt},
        DeliveryCase{LocalEndpointStyle::Configuration::Delivery::environment,
                     {},
                     renderedDocument,
                     std::nullopt},
        DeliveryCase{LocalEndpointStyle::Configuration::Delivery::file,
                     {},
                     std::nullopt,
                     renderedDocument}));

TEST(CommandBuilderTest, ConfigurationLeavesOutWhatHasNoValue) {
    LocalEndpointStyle::Configuration style =
        configurationStyle(LocalEndpointStyle::Configuration::Delivery::environment);
    Json rendered = *style.rendered("openAI", {{"baseURL", "http://h"}, {"endpointName", "Box"}});
    EXPECT_EQ(rendered, Json::parse(R"({"provider": "mine", "providers": {"mine":
        {"url": "http://h/chat", "title": "Box", "models": [], "tries": 0}}})"));
    EXPECT_FALSE(style.rendered("anthropic", {}));

    HarnessSpec spec = toolSpec();
    spec.localEndpoint = {style};
    RunRequest asked = request();
    asked.endpoint = endpoint(EndpointKind::lmStudio);
    asked.apiKey = "sk-secret";
    BuiltCommand keyless = build(spec, asked);
    EXPECT_EQ(keyless.environment.count("TOOL_KEY"), 0u);
    EXPECT_EQ(keyless.warnings,
              Strings{"Tool is pointed at Box with no model named, so it asks for its own "
                      "default model, which the endpoint may not serve."});
}

// One row per style: whether a harness can reach an endpoint of a kind for one run.
struct PerRunCase {
    LocalEndpointStyle style;
    EndpointKind kind;
    bool compatible;
};

class PerRunWayTest : public testing::TestWithParam<PerRunCase> {};

TEST_P(PerRunWayTest, JudgesWhetherTheEndpointCanBeApplied) {
    HarnessSpec spec = toolSpec();
    spec.localEndpoint = GetParam().style;
    EndpointCompatibility judged =
        CommandBuilder::compatibility(spec, endpoint(GetParam().kind), std::nullopt);
    EXPECT_EQ(judged.isCompatible(), GetParam().compatible);
    if (!GetParam().compatible)
        EXPECT_EQ(judged,
                  (EndpointCompatibility{EndpointCompatibility::NoPerRunWay{GetParam().kind}}));
}

INSTANTIATE_TEST_SUITE_P(
    Styles, PerRunWayTest,
    testing::Values(
        PerRunCase{{LocalEndpointStyle::Environment{"URL"}}, EndpointKind::ollama, true},
        PerRunCase{{LocalEndpointStyle::LocalProvider{{"--oss"}, "-p", {{"ollama", "ollama"}}}},
                   EndpointKind::ollama,
                   true},
        PerRunCase{{LocalEndpointStyle::LocalProvider{{"--oss"}, "-p", {{"ollama", "ollama"}}}},
                   EndpointKind::openAICompatible,
                   false},
        PerRunCase{{LocalEndpointStyle::ModelPrefix{{{"ollama", "ollama"}}, std::nullopt}},
                   EndpointKind::lmStudio,
                   false},
        PerRunCase{{configurationStyle(LocalEndpointStyle::Configuration::Delivery::overrides)},
                   EndpointKind::lmStudio,
                   true},
        PerRunCase{{configurationStyle(LocalEndpointStyle::Configuration::Delivery::overrides)},
                   EndpointKind::anthropicCompatible,
                   false},
        PerRunCase{{LocalEndpointStyle::Unsupported{}}, EndpointKind::ollama, false}));

TEST(EndpointCompatibilityTest, SaysWhyAJobCannotUseTheEndpoint) {
    EXPECT_FALSE(EndpointCompatibility{}.reason("Codex", "Box"));
    EXPECT_EQ(
        EndpointCompatibility{EndpointCompatibility::NoPerRunWay{EndpointKind::ollama}}.reason(
            "Codex", "Box"),
        "Codex cannot be pointed at an Ollama endpoint for a single run, so a job would "
        "use whatever Codex's own settings name instead of Box.");
    EXPECT_EQ((EndpointCompatibility{EndpointCompatibility::WrongProtocol{
                   EndpointProtocol::anthropic, EndpointProtocol::openAI}})
                  .reason("Claude Code", "Box"),
              "Claude Code speaks the Anthropic protocol and Box answers in OpenAI.");
}

TEST(CommandBuilderTest, AdditiveSkillsBeyondOneAreLeftOutWhenNotRepeatable) {
    HarnessSpec spec = toolSpec();
    spec.skills = SkillSupport{"--skill", false, SkillStyle::additive, "{skill}", std::nullopt};
    RunRequest asked = request();
    asked.skills = {"lint", "docs", "pdf"};
    BuiltCommand command = build(spec, asked);
    EXPECT_EQ(command.arguments, (Strings{"run", "--quiet", "--json", "--read-only", "--skill",
                                          "lint", "Tidy the notes"}));
    EXPECT_EQ(command.warnings,
              Strings{"Tool accepts one --skill per run, so \"docs\" and \"pdf\" were left out."});
    spec.skills->repeatable = true;
    EXPECT_EQ(build(spec, asked).arguments,
              (Strings{"run", "--quiet", "--json", "--read-only", "--skill", "lint", "--skill",
                       "docs", "--skill", "pdf", "Tidy the notes"}));
    spec.skills.reset();
    EXPECT_EQ(build(spec, asked).warnings,
              Strings{"Tool cannot load skills for a single run; none were attached."});
}

TEST(CommandBuilderTest, ToggleSkillsSwitchEveryInstalledSkill) {
    HarnessSpec spec = toolSpec();
    spec.skills =
        SkillSupport{"--set", true, SkillStyle::toggle, "skills.{skill}={enabled}", std::nullopt};
    RunRequest asked = request();
    asked.skills = {"c"};
    asked.availableSkills = {"b", "a"};
    EXPECT_EQ(build(spec, asked).arguments,
              (Strings{"run", "--quiet", "--json", "--read-only", "--set", "skills.a=false",
                       "--set", "skills.b=false", "--set", "skills.c=true", "Tidy the notes"}));
    asked.availableSkills.clear();
    BuiltCommand unlisted = build(spec, asked);
    EXPECT_EQ(unlisted.arguments,
              (Strings{"run", "--quiet", "--json", "--read-only", "Tidy the notes"}));
    EXPECT_EQ(
        unlisted.warnings,
        Strings{"Could not list the skills installed for this harness, so the ones you did not "
                "choose could not be switched off."});
}

TEST(CommandBuilderTest, KeysGoOnlyToCompatibleEndpointsThroughAVariable) {
    HarnessSpec spec = toolSpec();
    spec.apiKeyVariables = {{EndpointProtocol::openAI, "TOOL_KEY"}};
    RunRequest asked = request();
    asked.apiKey = "secret";
    asked.endpoint = endpoint(EndpointKind::lmStudio);
    BuiltCommand local = build(spec, asked);
    EXPECT_FALSE(local.environment.count("TOOL_KEY"));
    EXPECT_TRUE(local.warnings.empty());

    asked.endpoint = endpoint(EndpointKind::openAICompatible, "Gateway");
    EXPECT_EQ(build(spec, asked).environment.at("TOOL_KEY"), "secret");
    asked.apiKey = "";
    EXPECT_FALSE(build(spec, asked).environment.count("TOOL_KEY"));
    asked.apiKey = "secret";

    spec.apiKeyVariables.clear();
    EXPECT_EQ(
        build(spec, asked).warnings,
        Strings{"Tool has no environment variable for a OpenAI-protocol credential, so the key "
                "saved for Gateway was not applied. Set it in Tool's own configuration, or the "
                "run will be refused."});

    spec.localEndpoint = {LocalEndpointStyle::ModelPrefix{{}, std::nullopt}};
    asked.model = "m";
    EXPECT_EQ(
        build(spec, asked).warnings,
        Strings{"Tool resolves Gateway from its own configuration rather than from this app, so "
                "the key saved here was withheld — sending it would credential whichever "
                "address Tool already has. Set the key alongside that address instead."});
}

TEST(ProviderCatalogTest, ReadsConfiguredProvidersFromTheHarnessSettings) {
    test::TempDir dir;
    test::writeFile(dir / "settings.json",
                    R"({"provider": {"zeta": {}, "ollama": {}}, "other": 1})");
    ProviderSource source{(dir / "settings.json").string(), "provider"};
    EXPECT_EQ(ProviderCatalog::providers(source),
              Discovery<std::string>::answered({"ollama", "zeta"}));
    EXPECT_EQ(ProviderCatalog::providers(ProviderSource{source.path, "other"}),
              Discovery<std::string>::unavailable());
    EXPECT_EQ(
        ProviderCatalog::providers(ProviderSource{(dir / "absent.json").string(), "provider"}),
        Discovery<std::string>::unavailable());
    EXPECT_EQ(ProviderCatalog::providers(std::nullopt), Discovery<std::string>::unavailable());

    HarnessSpec spec = toolSpec();
    spec.localEndpoint = {
        LocalEndpointStyle::ModelPrefix{{{"ollama", "ollama"}, {"lmStudio", "lmstudio"}}, source}};
    EXPECT_TRUE(ProviderCatalog::canReach("ollama", spec.localEndpoint));
    EXPECT_FALSE(ProviderCatalog::canReach("lmStudio", spec.localEndpoint));
    EXPECT_TRUE(ProviderCatalog::canReach("openAICompatible", spec.localEndpoint));
    EXPECT_EQ(
        CommandBuilder::compatibility(spec, endpoint(EndpointKind::lmStudio), ProviderCatalog{}),
        (EndpointCompatibility{EndpointCompatibility::ProviderMissing{"lmstudio", source.path}}));
    EXPECT_TRUE(CommandBuilder::compatibility(spec, endpoint(EndpointKind::lmStudio), std::nullopt)
                    .isCompatible());
    EXPECT_TRUE(
        CommandBuilder::compatibility(spec, std::nullopt, ProviderCatalog{}).isCompatible());
}

// The shipped manifest, whole command lines per harness and level.
struct ShippedCase {
    const char* harness;
    PermissionLevel permission;
    const char* display;
};

class ShippedManifestTest : public testing::TestWithParam<ShippedCase> {};

TEST_P(ShippedManifestTest, BuildsTheVerifiedCommandLine) {
    HarnessRegistry registry = HarnessRegistry::bundled();
    const HarnessSpec& spec = registry.spec(GetParam().harness);
    RunRequest asked = request(GetParam().permission);
    asked.model = "m1";
    BuiltCommand command =
        CommandBuilder().build(spec, "/usr/bin/" + spec.executableNames[0], asked);
    EXPECT_EQ(command.displayString(), GetParam().display);
    EXPECT_EQ(command.standardInput, "Tidy the notes");
    EXPECT_TRUE(command.warnings.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Harnesses, ShippedManifestTest,
    testing::Values(ShippedCase{"claude", PermissionLevel::readOnly,
                                "claude --print --output-format stream-json --verbose "
                                "--permission-mode dontAsk --model m1"},
                    ShippedCase{"claude", PermissionLevel::fullAccess,
                                "claude --print --output-format stream-json --verbose "
                                "--permission-mode bypassPermissions --model m1"},
                    ShippedCase{"codex", PermissionLevel::scopedWrite,
                                "codex exec --skip-git-repo-check --json --sandbox workspace-write "
                                "--cd /work/project --model m1"},
                    ShippedCase{"opencode", PermissionLevel::fullAccess,
                                "opencode run --format json --auto --model m1"},
                    ShippedCase{"pi", PermissionLevel::readOnly,
                                "pi --print --mode json --tools read,grep,find,ls --model m1"}));

TEST(ShippedManifestSandboxTest, OpencodeAndPiScopedWritesRunInTheSandbox) {
    HarnessRegistry registry = HarnessRegistry::bundled();
    for (const char* id : {"opencode", "pi"}) {
        const HarnessSpec& spec = registry.spec(id);
        BuiltCommand command = CommandBuilder().build(spec, "/usr/bin/" + spec.executableNames[0],
                                                      request(PermissionLevel::scopedWrite));
        EXPECT_EQ(command.executable, SandboxProfile::executable()) << id;
        ASSERT_GE(command.arguments.size(), 3u);
        EXPECT_EQ(command.arguments[2], "/usr/bin/" + spec.executableNames[0]);
        EXPECT_TRUE(command.warnings.empty()) << id;
    }
}

TEST(ShippedManifestEndpointTest, CodexGetsItsProviderAsOverridesAndTheKeyInTheEnvironment) {
    HarnessRegistry registry = HarnessRegistry::bundled();
    RunRequest asked = request();
    asked.model = "m1";
    asked.endpoint = endpoint(EndpointKind::openAICompatible, "Gateway", "https://gw.example/v1");
    asked.apiKey = "sk-x";
    BuiltCommand command = CommandBuilder().build(registry.spec("codex"), "/usr/bin/codex", asked);
    EXPECT_EQ(command.displayString(),
              "codex exec --skip-git-repo-check --json --sandbox read-only --model m1 "
              "-c model_provider=\"marrowbell\" "
              "-c model_providers.marrowbell.base_url=\"https://gw.example/v1\" "
              "-c model_providers.marrowbell.env_key=\"CODEX_API_KEY\" "
              "-c model_providers.marrowbell.name=\"Gateway\" "
              "-c model_providers.marrowbell.wire_api=\"responses\"");
    EXPECT_EQ(command.environment.at("CODEX_API_KEY"), "sk-x");
    EXPECT_TRUE(command.warnings.empty());
    EXPECT_EQ(
        CommandBuilder::compatibility(registry.spec("codex"),
                                      endpoint(EndpointKind::anthropicCompatible), std::nullopt),
        (EndpointCompatibility{EndpointCompatibility::WrongProtocol{EndpointProtocol::openAI,
                                                                    EndpointProtocol::anthropic}}));
}
