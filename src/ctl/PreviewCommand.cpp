#include "Command.h"
#include "JobArgument.h"

#include "endpoint/SecretStore.h"
#include "harness/CommandBuilder.h"
#include "harness/HarnessRegistry.h"
#include "run/JobRunner.h"
#include "settings/EndpointStore.h"

#include <iostream>

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

int previewJob(Job job) {
    HarnessRegistry registry = HarnessRegistry::bundled();
    registry.environment()->prime(5);
    // Built by the runner itself, so the preview is exactly what a run would start; the
    // key is looked up as for a run and never printed.
    const JobRunner runner(registry, std::make_shared<RunHistory>(), EndpointProbe(5),
                           RunExecutor(), CommandBuilder(), SecretStore::shared());
    std::optional<Endpoint> endpoint = storedEndpoint(job.endpointID);
    BuiltCommand command = runner.preview(job, endpoint);
    std::cout << command.displayString() << "\n";
    if (command.standardInput)
        std::cout << "The prompt goes to standard input.\n";
    if (job.endpointID && !endpoint)
        std::cout << "warning: The job's endpoint no longer exists.\n";
    for (const std::string& warning : command.warnings)
        std::cout << "warning: " << warning << "\n";
    return success;
}

const Command command{"preview", "preview JOB",
                      [](Arguments a) { return withJobArgument(a, "preview", &previewJob); }};

} // namespace

} // namespace marrowbell::ctl
