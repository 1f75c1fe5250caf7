#include "harness/CommandBuilder.h"
#include "harness/HarnessRegistry.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;
using Delivery = LocalEndpointStyle::Configuration::Delivery;

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

// The command line after "tool run --quiet --json".
std::string shownAfterFlags(const HarnessSpec& spec, const RunRequest& request) {
    const std::string shown = build(spec, request).displayString();
    const std::string flags = "tool run --quiet --json ";
    return shown.starts_with(flags) ? shown.substr(flags.size()) : shown;
}

// Exactly one warning, naming each of `words`.
testing::AssertionResult warnsOnce(const BuiltCommand& command, const Strings& words) {
    if (command.warnings.size() != 1)
        return testing::AssertionFailure() << command.warnings.size() << " warnings";
    for (const std::string& word : words)
        if (command.warnings[0].find(word) == std::string::npos)
            return testing::AssertionFailure()
                   << "no \"" << word << "\" in " << command.warnings[0];
    return testing::AssertionSuccess();
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
    EXPECT_EQ(command.workingDirectory, "/work/project");
    EXPECT_EQ(command.standardInput, std::nullopt);
    EXPECT_TRUE(command.warnings.empty());
    EXPECT_EQ(command.environment.at("PATH"), "/opt/tool/bin:/usr/bin:/bin:/usr/sbin:/sbin");
    EXPECT_EQ(command.environment.at("PWD"), "/work/project");

    spec.promptDelivery = PromptDelivery::standardInput;
    command = build(spec, request());
    EXPECT_EQ(command.displayString(), "tool run --quiet --json --read-only");
    EXPECT_EQ(command.standardInput, "Tidy the notes");
}

// An empty scoped-write entry with a directory flag needs no warning; a level the
// harness lacks warns when no sandbox steps in.
TEST(CommandBuilderTest, ALevelWithoutFlagsTakesTheDirectoryFlagOrWarns) {
    HarnessSpec spec = toolSpec();
    spec.permissions = {{PermissionLevel::scopedWrite, {}}};
    spec.scopedWriteDirectoryFlag = "--dir";
    EXPECT_TRUE(build(spec, request(PermissionLevel::scopedWrite)).warnings.empty());
    EXPECT_EQ(shownAfterFlags(spec, request(PermissionLevel::scopedWrite)),
              "--dir /work/project \"Tidy the notes\"");
    spec.sandbox = SandboxSupport{{"~/.tool"}};
    BuiltCommand command = build(spec, request(PermissionLevel::fullAccess));
    EXPECT_EQ(command.executable, "/opt/tool/bin/tool");
    EXPECT_TRUE(warnsOnce(command, {"Tool", "full access", "not sandboxed"}));
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
    auto resolved = [&](const char* model) {
        asked.model = model;
        return CommandBuilder::resolvedModel(spec, asked);
    };
    EXPECT_EQ(resolved("M"), "P/M");
    EXPECT_EQ(resolved("P/M"), "P/M");
    asked.endpoint = endpoint(EndpointKind::lmStudio);
    EXPECT_EQ(resolved("M"), "M");
    EXPECT_EQ(resolved("   "), std::nullopt);
    EXPECT_EQ(shownAfterFlags(spec, asked), "--read-only \"Tidy the notes\"");
}

TEST(CommandBuilderTest, EndpointStylesAndTheirWarnings) {
    RunRequest asked = request();
    asked.endpoint = endpoint(EndpointKind::openAICompatible, "Gateway", "https://gw.example/v1");
    HarnessSpec spec = toolSpec();
    EXPECT_EQ(build(spec, asked).environment.at("BASE_URL"), "https://gw.example/v1");

    spec.localEndpoint = {
        LocalEndpointStyle::LocalProvider{{"--oss"}, "--local-provider", {{"ollama", "ollama"}}}};
    EXPECT_EQ(shownAfterFlags(spec, asked), "--read-only --oss \"Tidy the notes\"");
    EXPECT_TRUE(warnsOnce(build(spec, asked), {"local providers", "OpenAI-compatible"}));
    asked.endpoint = endpoint(EndpointKind::ollama);
    EXPECT_EQ(shownAfterFlags(spec, asked),
              "--read-only --oss --local-provider ollama \"Tidy the notes\"");

    spec.localEndpoint = {LocalEndpointStyle::ModelPrefix{{{"ollama", "ollama"}}, std::nullopt}};
    EXPECT_TRUE(warnsOnce(build(spec, asked), {"Box", "through the model name"}));
    spec.localEndpoint = {LocalEndpointStyle::Unsupported{}};
    EXPECT_TRUE(warnsOnce(build(spec, asked), {"cannot be pointed at Box"}));
}

LocalEndpointStyle::Configuration configurationStyle(Delivery delivery) {
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

// One row per delivery: where the rendered configuration ends up, for this run alone.
TEST(CommandBuilderTest, ConfigurationIsDeliveredAsOverridesInTheEnvironmentOrInAFile) {
    const std::string rendered =
        R"({"provider": "mine", "providers": {"mine": {"url": "http://h:1/v1/chat",
        "title": "Gate \"A\"", "key": "{env:TOOL_KEY}", "models": ["m1"], "m1": {"id": "m1"},
        "tries": 0}}})";
    for (const auto& [delivery, extraArguments, environment, file] :
         std::initializer_list<std::tuple<Delivery, Strings, std::string, std::string>>{
             {Delivery::overrides,
              {"-c", "provider=\"mine\"", "-c", "providers.mine.key=\"{env:TOOL_KEY}\"", "-c",
               "providers.mine.m1.id=\"m1\"", "-c", "providers.mine.models=[\"m1\"]", "-c",
               "providers.mine.title=\"Gate \\\"A\\\"\"", "-c", "providers.mine.tries=0", "-c",
               "providers.mine.url=\"http://h:1/v1/chat\""},
              "",
              ""},
             {Delivery::environment, {}, rendered, ""},
             {Delivery::file, {}, "", rendered}}) {
        HarnessSpec spec = toolSpec();
        spec.localEndpoint = {configurationStyle(delivery)};
        spec.apiKeyVariables = {{EndpointProtocol::openAI, "TOOL_KEY"}};
        spec.sandbox = SandboxSupport{{"~/.tool"}};
        RunRequest asked = request(PermissionLevel::scopedWrite);
        asked.endpoint = endpoint(EndpointKind::openAICompatible, "Gate \"A\"", "http://h:1/v1/");
        asked.model = " m1 ";
        asked.apiKey = "sk-secret";
        asked.privateFolder = "/run/private";
        BuiltCommand command = build(spec, asked);
        Strings expected{"run", "--quiet", "--json", "--write", "--model", "mine/m1"};
        expected.insert(expected.end(), extraArguments.begin(), extraArguments.end());
        expected.push_back("Tidy the notes");
        ASSERT_GE(command.arguments.size(), 3u);
        EXPECT_EQ(Strings(command.arguments.begin() + 3, command.arguments.end()), expected);
        EXPECT_EQ(command.environment.at("TOOL_KEY"), "sk-secret");
        for (const std::string& argument : command.arguments)
            EXPECT_EQ(argument.find("sk-secret"), std::string::npos);
        if (!environment.empty()) {
            EXPECT_EQ(Json::parse(command.environment.at("TOOL_CONFIG")), Json::parse(environment));
        }
        if (!file.empty()) {
            EXPECT_EQ(command.environment.at("TOOL_CONFIG"), "/run/private");
            EXPECT_EQ(Json::parse(command.privateFiles.at("models.json")), Json::parse(file));
            EXPECT_NE(command.arguments[1].find("/run/private"), std::string::npos)
                << "the private folder is writable in the sandbox";
        } else {
            EXPECT_TRUE(command.privateFiles.empty());
        }
        EXPECT_TRUE(command.warnings.empty());
    }
}

TEST(CommandBuilderTest, ConfigurationLeavesOutWhatHasNoValue) {
    LocalEndpointStyle::Configuration style = configurationStyle(Delivery::environment);
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
    EXPECT_TRUE(warnsOnce(keyless, {"Box", "no model named"}));
}

// One row per style: whether a harness can reach an endpoint of a kind for one run.
TEST(CommandBuilderTest, JudgesWhetherTheEndpointCanBeAppliedForOneRun) {
    const LocalEndpointStyle localProvider{
        LocalEndpointStyle::LocalProvider{{"--oss"}, "-p", {{"ollama", "ollama"}}}};
    const LocalEndpointStyle overrides{configurationStyle(Delivery::overrides)};
    const LocalEndpointStyle prefix{
        LocalEndpointStyle::ModelPrefix{{{"ollama", "ollama"}}, std::nullopt}};
    for (const auto& [style, kind, compatible] :
         std::initializer_list<std::tuple<LocalEndpointStyle, EndpointKind, bool>>{
             {{LocalEndpointStyle::Environment{"URL"}}, EndpointKind::ollama, true},
             {localProvider, EndpointKind::ollama, true},
             {localProvider, EndpointKind::openAICompatible, false},
             {prefix, EndpointKind::lmStudio, false},
             {overrides, EndpointKind::lmStudio, true},
             {overrides, EndpointKind::anthropicCompatible, false},
             {{LocalEndpointStyle::Unsupported{}}, EndpointKind::ollama, false}}) {
        HarnessSpec spec = toolSpec();
        spec.localEndpoint = style;
        EXPECT_EQ(CommandBuilder::compatibility(spec, endpoint(kind), std::nullopt),
                  compatible ? EndpointCompatibility{}
                             : EndpointCompatibility{EndpointCompatibility::NoPerRunWay{kind}})
            << rawValue(kind);
    }
}

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
    EXPECT_EQ(shownAfterFlags(spec, asked), "--read-only --skill lint \"Tidy the notes\"");
    EXPECT_TRUE(warnsOnce(build(spec, asked), {"one --skill", "\"docs\" and \"pdf\""}));
    spec.skills->repeatable = true;
    EXPECT_EQ(shownAfterFlags(spec, asked),
              "--read-only --skill lint --skill docs --skill pdf \"Tidy the notes\"");
    spec.skills.reset();
    EXPECT_TRUE(warnsOnce(build(spec, asked), {"Tool cannot load skills"}));
}

TEST(CommandBuilderTest, ToggleSkillsSwitchEveryInstalledSkill) {
    HarnessSpec spec = toolSpec();
    spec.skills =
        SkillSupport{"--set", true, SkillStyle::toggle, "skills.{skill}={enabled}", std::nullopt};
    RunRequest asked = request();
    asked.skills = {"c"};
    asked.availableSkills = {"b", "a"};
    EXPECT_EQ(shownAfterFlags(spec, asked),
              "--read-only --set skills.a=false --set "
              "skills.b=false --set skills.c=true \"Tidy the notes\"");
    asked.availableSkills.clear();
    EXPECT_EQ(shownAfterFlags(spec, asked), "--read-only \"Tidy the notes\"");
    EXPECT_TRUE(warnsOnce(build(spec, asked), {"Could not list the skills"}));
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
    EXPECT_TRUE(warnsOnce(build(spec, asked), {"no environment variable", "OpenAI", "Gateway"}));
    spec.localEndpoint = {LocalEndpointStyle::ModelPrefix{{}, std::nullopt}};
    asked.model = "m";
    EXPECT_TRUE(warnsOnce(build(spec, asked), {"Gateway", "withheld"}));
}

TEST(ProviderCatalogTest, ReadsConfiguredProvidersFromTheHarnessSettings) {
    test::TempDir dir;
    test::writeFile(dir / "settings.json",
                    R"({"provider": {"zeta": {}, "ollama": {}}, "other": 1})");
    ProviderSource source{(dir / "settings.json").string(), "provider"};
    EXPECT_EQ(ProviderCatalog::providers(source),
              Discovery<std::string>::answered({"ollama", "zeta"}));
    for (const std::optional<ProviderSource>& unreadable :
         {std::optional(ProviderSource{source.path, "other"}),
          std::optional(ProviderSource{(dir / "absent.json").string(), "provider"}),
          std::optional<ProviderSource>()})
        EXPECT_EQ(ProviderCatalog::providers(unreadable), Discovery<std::string>::unavailable());

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

// The shipped manifest, whole command lines per harness and level (Claude Code's
// read-only line: the ctl preview test).
TEST(ShippedManifestTest, BuildsTheVerifiedCommandLines) {
    const HarnessRegistry registry = HarnessRegistry::bundled();
    for (const auto& [id, permission, display] :
         std::initializer_list<std::tuple<const char*, PermissionLevel, const char*>>{
             {"claude", PermissionLevel::fullAccess,
              "claude --print --output-format stream-json --verbose "
              "--permission-mode bypassPermissions --model m1"},
             {"codex", PermissionLevel::scopedWrite,
              "codex exec --skip-git-repo-check --json --sandbox workspace-write "
              "--cd /work/project --model m1"},
             {"opencode", PermissionLevel::fullAccess,
              "opencode run --format json --auto --model m1"},
             {"pi", PermissionLevel::readOnly,
              "pi --print --mode json --tools read,grep,find,ls --model m1"}}) {
        const HarnessSpec& spec = registry.spec(id);
        RunRequest asked = request(permission);
        asked.model = "m1";
        BuiltCommand command =
            CommandBuilder().build(spec, "/usr/bin/" + spec.executableNames[0], asked);
        EXPECT_EQ(command.displayString(), display);
        EXPECT_EQ(command.standardInput, "Tidy the notes") << id;
        EXPECT_TRUE(command.warnings.empty()) << id;
    }
}

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
    const HarnessSpec codex = HarnessRegistry::bundled().spec("codex");
    RunRequest asked = request();
    asked.model = "m1";
    asked.endpoint = endpoint(EndpointKind::openAICompatible, "Gateway", "https://gw.example/v1");
    asked.apiKey = "sk-x";
    BuiltCommand command = CommandBuilder().build(codex, "/usr/bin/codex", asked);
    EXPECT_EQ(command.displayString(),
              "codex exec --skip-git-repo-check --json --sandbox read-only --model m1 "
              "-c model_provider=\"marrowbell\" "
              "-c model_providers.marrowbell.base_url=\"https://gw.example/v1\" "
              "-c model_providers.marrowbell.env_key=\"CODEX_API_KEY\" "
              "-c model_providers.marrowbell.name=\"Gateway\" "
              "-c model_providers.marrowbell.wire_api=\"responses\"");
    EXPECT_EQ(command.environment.at("CODEX_API_KEY"), "sk-x");
    EXPECT_TRUE(command.warnings.empty());
    EXPECT_EQ(CommandBuilder::compatibility(codex, endpoint(EndpointKind::anthropicCompatible),
                                            std::nullopt),
              (EndpointCompatibility{EndpointCompatibility::WrongProtocol{
                  EndpointProtocol::openAI, EndpointProtocol::anthropic}}));
}
