#pragma once

#include "harness/HarnessManifest.h"
#include "run/JobRunner.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <memory>
#include <string>

namespace marrowbell::test {

// A harness described like Claude Code (stream-json events, Anthropic protocol, prompt
// on standard input) whose executable "standin" is a shell script in a temporary folder.
inline Json standInSpec(const std::string& id = "standin") {
    return Json::parse(R"({
      "id": ")" + id + R"(",
      "displayName": "Stand-in",
      "executableNames": ["standin"],
      "subcommand": [],
      "headlessFlags": ["--print"],
      "structuredOutputFlags": ["--output-format", "stream-json"],
      "promptDelivery": "standardInput",
      "modelFlag": "--model",
      "eventFormat": "claudeStreamJSON",
      "permissions": {"fullAccess": ["--yes"]},
      "localEndpoint": {"style": "environment", "variable": "ANTHROPIC_BASE_URL"},
      "limitEnforcement": "harnessPathChecks",
      "apiKeyVariables": {"anthropic": "ANTHROPIC_API_KEY"},
      "endpointProtocol": "anthropic"
    })");
}

// A stand-in that reads the prompt and reports a successful result.
inline constexpr const char* succeedingHarness =
    "cat >/dev/null\n"
    "echo '{\"type\":\"system\",\"session_id\":\"s1\"}'\n"
    "echo '{\"type\":\"result\",\"subtype\":\"success\",\"is_error\":false,\"result\":\"All "
    "done\",\"usage\":{\"input_tokens\":12,\"output_tokens\":34}}'\n";

struct RunnerFixture {
    explicit RunnerFixture(const std::string& script = succeedingHarness,
                           const Json& described = standInSpec(),
                           std::shared_ptr<LiveRuns> live = nullptr) {
        writeHarness(script);
        HarnessSpec spec = HarnessSpec::decode(described);
        HarnessRegistry registry({spec}, {(folder / "bin").string()}, {}, {}, {},
                                 std::make_shared<ShellPath>());
        secrets = std::make_shared<SecretStore>("test.marrowbell", SecretStore::Backend::file,
                                                folder / "secrets.json");
        runner = std::make_shared<JobRunner>(registry, history, EndpointProbe(2),
                                             RunExecutor(RunExecutor::Timing{1, 1, 1}),
                                             CommandBuilder{}, *secrets, live);
        this->live = std::move(live);
        std::filesystem::create_directories(folder / "work");
    }

    void writeHarness(const std::string& script) {
        writeFile(folder / "bin" / "standin", "#!/bin/sh\n" + script, true);
    }

    Job job(const std::string& harness = "standin") const {
        Job j = makeJob("Stand-in job", "0 9 * * *");
        j.harnessID = harness;
        j.permission = PermissionLevel::fullAccess;
        j.workingDirectory = FileUrl::fromPath(folder / "work", true);
        return j;
    }

    TempDir folder;
    std::shared_ptr<RunHistory> history = std::make_shared<RunHistory>();
    std::shared_ptr<SecretStore> secrets;
    std::shared_ptr<JobRunner> runner;
    std::shared_ptr<LiveRuns> live; // none unless given
};

} // namespace marrowbell::test
