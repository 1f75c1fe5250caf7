#include "harness/CommandBuilder.h"

#include "base/HomeFolder.h"

#include "base/Utf8.h"
#include "harness/ListingText.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowbell {

// The name carries the user id, and the folder must be a real folder of this user's
// that nobody else may write: listing commands run inside it, and some tools read
// their configuration from the folder they run in, so a folder another user planted
// in a shared /tmp must never be used. Such a folder is passed over for a fresh one.
std::filesystem::path CommandBuilder::discoveryDirectory() {
    std::filesystem::path folder = std::filesystem::path(temporaryFolder()) /
                                   ("MarrowbellDiscovery-" + std::to_string(::getuid()));
    if (isPrivateFolder(folder))
        return folder;
    std::string fresh = folder.string() + ".XXXXXX";
    if (::mkdtemp(fresh.data()))
        return fresh;
    return folder;
}

std::map<std::string, std::string>
CommandBuilder::environment(const std::filesystem::path& executable) {
    std::map<std::string, std::string> environment;
    environment["PATH"] = executable.parent_path().string() + ":" + baselinePath;
    for (const char* name : {"HOME", "USER", "LANG", "TMPDIR", "SHELL"})
        if (const char* value = std::getenv(name))
            environment[name] = value;
    return environment;
}

std::optional<SandboxProfile> CommandBuilder::sandboxProfile(const HarnessSpec& spec,
                                                             const RunRequest& request) {
    if (!spec.sandbox)
        return std::nullopt;
    SandboxProfile profile{request.workingDirectory, spec.sandbox->writablePaths, false};
    switch (request.permission) {
    case PermissionLevel::readOnly: {
        auto flags = spec.permissions.find(PermissionLevel::readOnly);
        if (flags != spec.permissions.end() && !flags->second.empty())
            return std::nullopt;
        return profile;
    }
    case PermissionLevel::scopedWrite:
        profile.workspaceWritable = true;
        return profile;
    case PermissionLevel::fullAccess:
        return std::nullopt;
    }
    return std::nullopt;
}

// Whether the harness can be pointed at an endpoint of `kind` for one run.
static bool hasPerRunWay(const LocalEndpointStyle& style, EndpointKind kind) {
    std::string raw(rawValue(kind));
    if (std::holds_alternative<LocalEndpointStyle::Environment>(style.style))
        return true;
    if (const auto* local = std::get_if<LocalEndpointStyle::LocalProvider>(&style.style))
        return local->providerNames.count(raw) > 0;
    if (const auto* prefix = std::get_if<LocalEndpointStyle::ModelPrefix>(&style.style))
        return prefix->prefixes.count(raw) > 0;
    if (const auto* configuration = std::get_if<LocalEndpointStyle::Configuration>(&style.style))
        return configuration->content.count(std::string(rawValue(wireProtocol(kind)))) > 0;
    return false;
}

EndpointCompatibility CommandBuilder::compatibility(const HarnessSpec& spec,
                                                    const std::optional<Endpoint>& endpoint,
                                                    const std::optional<ProviderCatalog>& catalog) {
    if (!endpoint)
        return {EndpointCompatibility::Compatible{}};
    EndpointProtocol spoken = wireProtocol(endpoint->kind);
    if (spec.endpointProtocol && *spec.endpointProtocol != spoken)
        return {EndpointCompatibility::WrongProtocol{*spec.endpointProtocol, spoken}};
    if (!hasPerRunWay(spec.localEndpoint, endpoint->kind))
        return {EndpointCompatibility::NoPerRunWay{endpoint->kind}};
    if (catalog) {
        const auto* prefix =
            std::get_if<LocalEndpointStyle::ModelPrefix>(&spec.localEndpoint.style);
        if (prefix && prefix->providers) {
            auto entry = prefix->prefixes.find(std::string(rawValue(endpoint->kind)));
            if (entry != prefix->prefixes.end() &&
                !ProviderCatalog::canReach(rawValue(endpoint->kind), spec.localEndpoint))
                return {
                    EndpointCompatibility::ProviderMissing{entry->second, prefix->providers->path}};
        }
    }
    return {EndpointCompatibility::Compatible{}};
}

std::optional<std::string> CommandBuilder::resolvedModel(const HarnessSpec& spec,
                                                         const RunRequest& request) {
    if (!request.model)
        return std::nullopt;
    std::string model(utf8::trimmed(*request.model, true));
    if (model.empty())
        return std::nullopt;
    if (!request.endpoint)
        return model;
    if (const auto* configuration =
            std::get_if<LocalEndpointStyle::Configuration>(&spec.localEndpoint.style)) {
        if (!configuration->content.count(
                std::string(rawValue(wireProtocol(request.endpoint->kind)))))
            return model;
        std::string shaped = configuration->model;
        for (std::size_t at = shaped.find("{model}"); at != std::string::npos;
             at = shaped.find("{model}", at + model.size()))
            shaped.replace(at, 7, model);
        return shaped;
    }
    const auto* prefix = std::get_if<LocalEndpointStyle::ModelPrefix>(&spec.localEndpoint.style);
    if (!prefix)
        return model;
    auto entry = prefix->prefixes.find(std::string(rawValue(request.endpoint->kind)));
    if (entry == prefix->prefixes.end() || model.starts_with(entry->second + "/"))
        return model;
    return entry->second + "/" + model;
}

namespace {

void append(std::vector<std::string>& arguments, const std::vector<std::string>& more) {
    arguments.insert(arguments.end(), more.begin(), more.end());
}

// The key's variable, when a key goes with the endpoint and the harness names one.
std::optional<std::string> keyVariable(const HarnessSpec& spec, const RunRequest& request) {
    if (!request.apiKey || request.apiKey->empty() || !mayNeedAPIKey(request.endpoint->kind))
        return std::nullopt;
    auto variable = spec.apiKeyVariables.find(wireProtocol(request.endpoint->kind));
    if (variable == spec.apiKeyVariables.end())
        return std::nullopt;
    return variable->second;
}

void applyConfiguration(const HarnessSpec& spec,
                        const LocalEndpointStyle::Configuration& configuration,
                        const RunRequest& request, BuiltCommand& command) {
    const Endpoint& endpoint = *request.endpoint;
    std::string address = endpoint.baseURL.absoluteString;
    while (address.ends_with("/"))
        address.pop_back();
    std::map<std::string, std::string> values{{"baseURL", address},
                                              {"endpointName", endpoint.name}};
    RunRequest bare;
    bare.model = request.model;
    if (auto model = CommandBuilder::resolvedModel(spec, bare))
        values["model"] = *model;
    else
        command.warnings.push_back(spec.displayName + " is pointed at " + endpoint.name +
                                   " with no model named, so it asks for its own default "
                                   "model, which the endpoint may not serve.");
    if (auto variable = keyVariable(spec, request))
        values["keyVariable"] = *variable;
    auto document =
        configuration.rendered(std::string(rawValue(wireProtocol(endpoint.kind))), values);
    if (!document) {
        command.warnings.push_back(spec.displayName + " cannot be pointed at " + endpoint.name +
                                   " for a single run. Configure the endpoint in its own "
                                   "settings file instead.");
        return;
    }
    switch (configuration.delivery) {
    case LocalEndpointStyle::Configuration::Delivery::overrides:
        for (std::string& entry : LocalEndpointStyle::Configuration::overrides(*document)) {
            command.arguments.push_back(configuration.flag);
            command.arguments.push_back(std::move(entry));
        }
        break;
    case LocalEndpointStyle::Configuration::Delivery::environment:
        command.environment[configuration.variable] = document->dump();
        break;
    case LocalEndpointStyle::Configuration::Delivery::file:
        command.environment[configuration.variable] = request.privateFolder.string();
        command.privateFiles[configuration.fileName] = document->dump(2) + "\n";
        break;
    }
}

void applyEndpoint(const HarnessSpec& spec, const RunRequest& request, BuiltCommand& command) {
    const Endpoint& endpoint = *request.endpoint;
    const std::string& harness = spec.displayName;
    EndpointCompatibility compatibility =
        CommandBuilder::compatibility(spec, endpoint, std::nullopt);
    if (auto* wrong = std::get_if<EndpointCompatibility::WrongProtocol>(&compatibility.value)) {
        command.warnings.push_back(
            harness + " speaks the " + std::string(displayName(wrong->harness)) + " protocol and " +
            endpoint.name + " answers in " + std::string(displayName(wrong->endpoint)) +
            ". The endpoint was not applied — a run would get a reply it "
            "cannot read.");
        return;
    }
    const auto& style = spec.localEndpoint.style;
    if (auto* environment = std::get_if<LocalEndpointStyle::Environment>(&style)) {
        command.environment[environment->variable] = endpoint.baseURL.absoluteString;
    } else if (auto* local = std::get_if<LocalEndpointStyle::LocalProvider>(&style)) {
        append(command.arguments, local->flags);
        auto name = local->providerNames.find(std::string(rawValue(endpoint.kind)));
        if (name != local->providerNames.end()) {
            command.arguments.push_back(local->providerFlag);
            command.arguments.push_back(name->second);
        } else {
            command.warnings.push_back(harness +
                                       " names its local providers rather than taking a URL, and "
                                       "has none for " +
                                       std::string(displayName(endpoint.kind)) +
                                       ". It will use its configured default.");
        }
    } else if (auto* configuration = std::get_if<LocalEndpointStyle::Configuration>(&style)) {
        applyConfiguration(spec, *configuration, request, command);
    } else if (std::holds_alternative<LocalEndpointStyle::ModelPrefix>(style)) {
        if (!CommandBuilder::resolvedModel(spec, request))
            command.warnings.push_back(harness + " routes to " + endpoint.name +
                                       " through the model name, so without one it will use its "
                                       "configured default instead.");
    } else {
        command.warnings.push_back(harness + " cannot be pointed at " + endpoint.name +
                                   " for a single run. Configure the endpoint in its own settings "
                                   "file instead.");
    }
}

void applySkills(const HarnessSpec& spec, const RunRequest& request, BuiltCommand& command) {
    const std::string& harness = spec.displayName;
    if (!spec.skills) {
        if (!request.skills.empty())
            command.warnings.push_back(harness +
                                       " cannot load skills for a single run; none were attached.");
        return;
    }
    const SkillSupport& support = *spec.skills;
    if (support.style == SkillStyle::toggle) {
        if (request.availableSkills.empty()) {
            if (!request.skills.empty())
                command.warnings.push_back(
                    "Could not list the skills installed for this harness, so the ones you did "
                    "not choose could not be switched off.");
            return;
        }
        std::set<std::string> all(request.availableSkills.begin(), request.availableSkills.end());
        all.insert(request.skills.begin(), request.skills.end());
        std::set<std::string> chosen(request.skills.begin(), request.skills.end());
        for (const std::string& skill : all)
            if (auto rendering = support.rendered(skill, chosen.count(skill) > 0)) {
                command.arguments.push_back(support.flag);
                command.arguments.push_back(*rendering);
            }
        return;
    }
    if (request.skills.empty())
        return;
    std::size_t used = support.repeatable ? request.skills.size() : 1;
    for (std::size_t i = 0; i < used; ++i) {
        command.arguments.push_back(support.flag);
        command.arguments.push_back(request.skills[i]);
    }
    if (used < request.skills.size()) {
        std::string left;
        for (std::size_t i = used; i < request.skills.size(); ++i)
            left += (i == used ? "\"" : " and \"") + request.skills[i] + "\"";
        command.warnings.push_back(harness + " accepts one " + support.flag + " per run, so " +
                                   left + " were left out.");
    }
}

void applyKey(const HarnessSpec& spec, const RunRequest& request, BuiltCommand& command) {
    if (!request.apiKey || request.apiKey->empty() || !request.endpoint ||
        !mayNeedAPIKey(request.endpoint->kind))
        return;
    const Endpoint& endpoint = *request.endpoint;
    const std::string& harness = spec.displayName;
    EndpointProtocol protocol = wireProtocol(endpoint.kind);
    const auto& style = spec.localEndpoint.style;
    bool withheld = std::holds_alternative<LocalEndpointStyle::ModelPrefix>(style) ||
                    std::holds_alternative<LocalEndpointStyle::Unsupported>(style);
    if (auto* local = std::get_if<LocalEndpointStyle::LocalProvider>(&style))
        withheld = !local->providerNames.count(std::string(rawValue(endpoint.kind)));
    if (auto* configuration = std::get_if<LocalEndpointStyle::Configuration>(&style))
        withheld = !configuration->content.count(std::string(rawValue(protocol)));
    if (withheld) {
        command.warnings.push_back(
            harness + " resolves " + endpoint.name +
            " from its own configuration rather than from this app, so the key saved here was "
            "withheld — sending it would credential whichever address " +
            harness + " already has. Set the key alongside that address instead.");
        return;
    }
    auto variable = spec.apiKeyVariables.find(protocol);
    if (variable != spec.apiKeyVariables.end()) {
        command.environment[variable->second] = *request.apiKey;
        return;
    }
    command.warnings.push_back(harness + " has no environment variable for a " +
                               std::string(displayName(protocol)) +
                               "-protocol credential, so the key saved for " + endpoint.name +
                               " was not applied. Set it in " + harness +
                               "'s own configuration, or the run will be refused.");
}

} // namespace

BuiltCommand CommandBuilder::build(const HarnessSpec& spec, const std::filesystem::path& executable,
                                   const RunRequest& request) const {
    BuiltCommand command;
    append(command.arguments, spec.subcommand);
    append(command.arguments, spec.headlessFlags);
    append(command.arguments, spec.structuredOutputFlags);
    command.environment = environment(executable);
    command.environment["PWD"] = request.workingDirectory.string();

    std::optional<SandboxProfile> profile = sandboxProfile(spec, request);

    auto flags = spec.permissions.find(request.permission);
    if (flags != spec.permissions.end())
        append(command.arguments, flags->second);
    if (request.permission == PermissionLevel::scopedWrite && spec.scopedWriteDirectoryFlag) {
        command.arguments.push_back(*spec.scopedWriteDirectoryFlag);
        command.arguments.push_back(request.workingDirectory.string());
    }
    if (flags == spec.permissions.end() && !profile)
        command.warnings.push_back(spec.displayName + " has no flag for \"" +
                                   plainTitle(request.permission) +
                                   "\". This run is not sandboxed by the harness; confine it with "
                                   "a worktree or a scoped folder instead.");

    if (auto model = resolvedModel(spec, request); model && spec.modelFlag) {
        command.arguments.push_back(*spec.modelFlag);
        command.arguments.push_back(*model);
    }
    if (request.endpoint)
        applyEndpoint(spec, request, command);
    applySkills(spec, request, command);
    applyKey(spec, request, command);

    if (spec.promptDelivery == PromptDelivery::positional)
        command.arguments.push_back(request.prompt);
    else
        command.standardInput = request.prompt;

    if (profile && !command.privateFiles.empty())
        profile->harnessPaths.push_back(request.privateFolder.string());
    if (profile && request.permission == PermissionLevel::scopedWrite)
        for (const auto& folder : request.writableFolders)
            profile->harnessPaths.push_back(folder.string());
    if (profile) {
        std::vector<std::string> wrapped{"-p", profile->text(), executable.string()};
        append(wrapped, command.arguments);
        command.arguments = std::move(wrapped);
        command.executable = SandboxProfile::executable();
    } else {
        command.executable = executable;
    }
    command.workingDirectory = request.workingDirectory;
    return command;
}

} // namespace marrowbell
