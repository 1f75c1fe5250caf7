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
