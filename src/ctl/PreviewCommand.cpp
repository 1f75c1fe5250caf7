#include "Command.h"
#include "JobArgument.h"
#include "TerminalText.h"

#include "endpoint/SecretStore.h"
#include "harness/CommandBuilder.h"
#include "harness/HarnessRegistry.h"
#include "harness/SandboxProfile.h"
#include "run/JobRunner.h"
#include "run/RunWorktree.h"
#include "settings/EndpointStore.h"

#include <iostream>
#include <set>

namespace marrowbell::ctl {

namespace {

// The endpoint a job names, read without creating anything.
std::optional<Endpoint> storedEndpoint(const std::optional<Uuid>& id) {
    if (!id)
        return std::nullopt;
    std::filesystem::path file = EndpointStore::defaultFileURL();
    std::error_code error;
    if (!std::filesystem::exists(file, error))
        return std::nullopt;
    return EndpointStore(file).endpoint(id);
}

// "sk-…34": enough to tell keys apart, never enough to use one.
std::string masked(const std::string& secret) {
    if (secret.size() < 8)
        return "…";
    return secret.substr(0, 3) + "…" + secret.substr(secret.size() - 2);
}

struct Preview {
    BuiltCommand command;
    std::optional<Endpoint> endpoint;
    std::set<std::string> secretVariables;
    std::filesystem::path harnessExecutable;
};

Preview previewed(const Job& job) {
    HarnessRegistry registry = HarnessRegistry::bundled();
    registry.environment()->prime(5);
    // Built by the runner itself, so the preview is exactly what a run would start; the
    // key is looked up as for a run and only ever printed masked.
    const JobRunner runner(registry, std::make_shared<RunHistory>(), EndpointProbe(5),
                           RunExecutor(), CommandBuilder(), SecretStore::shared());
    Preview preview;
    preview.endpoint = storedEndpoint(job.endpointID);
    preview.command = runner.preview(job, preview.endpoint);
    const HarnessSpec& spec = registry.spec(job.harnessID);
    for (const auto& [protocol, variable] : spec.apiKeyVariables)
        preview.secretVariables.insert(variable);
    preview.harnessExecutable = registry.resolveExecutable(spec);
    return preview;
}

int previewJob(const Job& job) {
    Preview preview = previewed(job);
    BuiltCommand shown = preview.command;
    bool sandboxed = shown.executable == SandboxProfile::executable() &&
                     shown.arguments.size() > 1 && shown.arguments[0] == "-p";
    if (sandboxed)
        shown.arguments[1] = "PROFILE";
    std::cout << printable(shown.displayString()) << "\n";
    if (sandboxed)
        std::cout << "PROFILE is the sandbox profile (marrowbellctl preview --profile JOB).\n";
    std::cout << "Working folder: " << printable(shown.workingDirectory.string()) << "\n";
    if (shown.workingDirectory != job.workingDirectory.fsPath()) {
        std::string branch = RunWorktree::branchName(job.name, Instant::now());
        branch.replace(branch.size() - 15, 15, "{yyyy-mm-dd-hhmm}");
        std::cout << "That is a fresh worktree of the repository's HEAD at "
                  << printable(job.workingDirectory.fsPath().string())
                  << ", which the run leaves untouched; its changes land on the branch "
                  << printable(branch) << ".\n";
    }
    const auto baseline = CommandBuilder::environment(preview.harnessExecutable);
    for (const auto& [name, value] : shown.environment) {
        auto base = baseline.find(name);
        if (base != baseline.end() && base->second == value)
            continue;
        std::cout << "Environment: " << printable(name) << "="
                  << printable(preview.secretVariables.count(name) ? masked(value) : value) << "\n";
    }
    for (const auto& [name, contents] : shown.privateFiles)
        std::cout << "Run file " << printable(name) << " (in the run's own folder):\n"
                  << printable(contents, true) << (contents.ends_with('\n') ? "" : "\n");
    if (shown.standardInput)
        std::cout << "The prompt goes to standard input.\n";
    if (job.endpointID && !preview.endpoint)
        std::cout << "warning: The job's endpoint no longer exists.\n";
    for (const std::string& warning : shown.warnings)
        std::cout << "warning: " << printable(warning) << "\n";
    return success;
}

int printProfile(const Job& job) {
    Preview preview = previewed(job);
    const BuiltCommand& command = preview.command;
    if (command.executable != SandboxProfile::executable() || command.arguments.size() < 2) {
        std::cout << "This run is not sandboxed.\n";
        return success;
    }
    std::cout << printable(command.arguments[1], true) << "\n";
    return success;
}

int run(Arguments arguments) {
    if (!arguments.empty() && arguments[0] == "--profile")
        return withJobArgument(arguments.subspan(1), "preview --profile", &printProfile);
    return withJobArgument(arguments, "preview", &previewJob);
}

const Command command{"preview",
                      Help{Group::running,
                           "the command line, folder and environment a run would get",
                           "preview [--profile] JOB",
                           "  --profile             only the sandbox profile, one rule per line",
                           "marrowbellctl preview \"Nightly review\""},
                      &run};

} // namespace

} // namespace marrowbell::ctl
