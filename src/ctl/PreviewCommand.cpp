#include "Command.h"
#include "JobArgument.h"

#include "endpoint/SecretStore.h"
#include "harness/CommandBuilder.h"
#include "harness/HarnessRegistry.h"
#include "harness/SkillCatalog.h"
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

int preview(Arguments arguments) {
    if (arguments.size() != 1)
        return usage("preview takes one JOB (its name or identifier)");
    std::optional<Job> found;
    try {
        found = resolveJob(storedJobs(), arguments[0]);
    } catch (const JobArgumentError& error) {
        return usage(error.what());
    }
    const Job& job = *found;
    HarnessRegistry registry = HarnessRegistry::bundled();
    registry.environment()->prime(5);
    const HarnessSpec& spec = registry.spec(job.harnessID);
    std::filesystem::path executable = registry.resolveExecutable(spec);

    RunRequest request;
    request.prompt = job.prompt;
    request.workingDirectory = job.workingDirectory.fsPath();
    request.model = job.model;
    request.endpoint = storedEndpoint(job.endpointID);
    request.skills = job.skills;
    if (spec.skills && spec.skills->style == SkillStyle::toggle)
        for (const Skill& skill : SkillCatalog::skills(spec.skills->source, executable))
            request.availableSkills.push_back(skill.id);
    request.permission = job.permission;
    // Only the kinds that take a key are looked up; the key itself is never printed.
    if (request.endpoint && mayNeedAPIKey(request.endpoint->kind))
        request.apiKey = SecretStore::shared().secret(request.endpoint->id);

    BuiltCommand command = CommandBuilder().build(spec, executable, request);
    std::cout << command.displayString() << "\n";
    if (command.standardInput)
        std::cout << "The prompt goes to standard input.\n";
    if (job.endpointID && !request.endpoint)
        std::cout << "warning: The job's endpoint no longer exists.\n";
    for (const std::string& warning : command.warnings)
        std::cout << "warning: " << warning << "\n";
    return success;
}

const Command command{"preview", "preview JOB", &preview};

} // namespace

} // namespace marrowbell::ctl
