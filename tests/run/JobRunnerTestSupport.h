#pragma once

#include "base/Files.h"
#include "harness/HarnessManifest.h"
#include "run/JobRunner.h"
#include "scheduler/SchedulerService.h"
#include "settings/EndpointStore.h"
#include "settings/SettingsStore.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <memory>
#include <string>

namespace marrowbell::test {

// A harness described like Claude Code (stream-json events, Anthropic protocol, prompt
// on standard input) whose executable "standin" is a shell script in a temporary folder.
inline Json standInSpec() {
    return Json::parse(
        files::read(std::string(MARROWBELL_TEST_DATA_DIR) + "/run/standin-harness.json").value());
}

// A stand-in that reads the prompt and reports a successful result.
inline constexpr const char* succeedingHarness =
    "cat >/dev/null\n"
    "echo '{\"type\":\"system\",\"session_id\":\"s1\"}'\n"
    "echo '{\"type\":\"result\",\"subtype\":\"success\",\"is_error\":false,\"result\":\"All "
    "done\",\"usage\":{\"input_tokens\":12,\"output_tokens\":34}}'\n";

// A stand-in that hangs when the prompt begins with "hang", else reports a result.
inline constexpr const char* promptedHarness =
    "prompt=$(cat)\n"
    "case \"$prompt\" in hang*) exec sleep 60 ;; esac\n"
    "echo '{\"type\":\"result\",\"is_error\":false,\"result\":\"ok\"}'\n";

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

    // A scheduler running jobs with this runner, over stores in this folder.
    void schedule() {
        store = std::make_shared<JobStore>(folder / "Jobs");
        endpoints = std::make_shared<EndpointStore>(folder / "endpoints.json");
        settings = std::make_shared<SettingsStore>(folder / "settings.json");
        service = SchedulerService::create(store, history, endpoints, settings, runner);
    }

    TempDir folder;
    std::shared_ptr<RunHistory> history = std::make_shared<RunHistory>();
    std::shared_ptr<SecretStore> secrets;
    std::shared_ptr<JobRunner> runner;
    std::shared_ptr<LiveRuns> live;  // none unless given
    std::shared_ptr<JobStore> store; // these four once scheduled
    std::shared_ptr<EndpointStore> endpoints;
    std::shared_ptr<SettingsStore> settings;
    std::shared_ptr<SchedulerService> service;
};

} // namespace marrowbell::test
