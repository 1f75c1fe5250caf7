#include "harness/HarnessSpec.h"

#include "harness/ManifestDecoding.h"

namespace marrowbell {

std::string_view explanation(LimitEnforcement enforcement) {
    switch (enforcement) {
    case LimitEnforcement::operatingSystem:
        return "Enforced by a sandbox in the operating system, which holds even for shell "
               "commands.";
    case LimitEnforcement::harnessPathChecks:
        return "Enforced by the harness checking every file path it is given. No shell is "
               "granted, because a shell would bypass that.";
    case LimitEnforcement::toolAllowlist:
        return "Enforced by withholding tools. Nothing checks which paths the remaining tools "
               "touch.";
    case LimitEnforcement::none:
        return "Not enforced — this harness has no per-run limit. Point it at a folder you would "
               "not mind losing.";
    }
    return "";
}

std::string_view shortLabel(LimitEnforcement enforcement) {
    switch (enforcement) {
    case LimitEnforcement::operatingSystem:
        return "kept to one folder, even in a shell";
    case LimitEnforcement::harnessPathChecks:
        return "kept to one folder; gets no shell";
    case LimitEnforcement::toolAllowlist:
    case LimitEnforcement::none:
        return "not kept to a folder";
    }
    return "";
}

static DecodeError unknownValue(const char* key, const std::string& raw) {
    return DecodeError(std::string("\"") + key + "\" has an unknown value \"" + raw + "\"");
}

static PromptDelivery decodePromptDelivery(const std::string& raw) {
    if (raw == "standardInput")
        return PromptDelivery::standardInput;
    if (raw == "positional")
        return PromptDelivery::positional;
    throw unknownValue("promptDelivery", raw);
}

static LimitEnforcement decodeLimitEnforcement(const std::string& raw) {
    for (auto value : {LimitEnforcement::operatingSystem, LimitEnforcement::harnessPathChecks,
                       LimitEnforcement::toolAllowlist, LimitEnforcement::none}) {
        static constexpr const char* names[] = {"operatingSystem", "harnessPathChecks",
                                                "toolAllowlist", "none"};
        if (raw == names[static_cast<int>(value)])
            return value;
    }
    throw unknownValue("limitEnforcement", raw);
}

HarnessSpec HarnessSpec::decode(const Json& value) {
    json::object(value, "a harness");
    HarnessSpec spec;
    spec.id = json::requiredString(value, "id");
    spec.displayName = json::requiredString(value, "displayName");
    spec.executableNames = manifest::requiredStrings(value, "executableNames");
    spec.subcommand = manifest::requiredStrings(value, "subcommand");
    spec.headlessFlags = manifest::requiredStrings(value, "headlessFlags");
    spec.structuredOutputFlags = manifest::requiredStrings(value, "structuredOutputFlags");
    spec.promptDelivery = decodePromptDelivery(json::requiredString(value, "promptDelivery"));
    spec.modelFlag = json::optionalString(value, "modelFlag");
    spec.scopedWriteDirectoryFlag = json::optionalString(value, "scopedWriteDirectoryFlag");
    std::string format = json::requiredString(value, "eventFormat");
    auto eventFormat = eventFormatFromRaw(format);
    if (!eventFormat)
        throw unknownValue("eventFormat", format);
    spec.eventFormat = *eventFormat;
    if (json::has(value, "skills"))
        spec.skills = SkillSupport::decode(value.at("skills"));
    if (json::has(value, "models"))
        spec.models = ModelSource::decode(value.at("models"));
    spec.localEndpoint =
        LocalEndpointStyle::decode(manifest::requiredObject(value, "localEndpoint"));
    if (auto enforcement = json::optionalString(value, "limitEnforcement"))
        spec.limitEnforcement = decodeLimitEnforcement(*enforcement);
    if (json::has(value, "sandbox")) {
        const Json& sandbox = manifest::requiredObject(value, "sandbox");
        spec.sandbox = SandboxSupport{manifest::requiredStrings(sandbox, "writablePaths")};
    }
    // Keys outside the enumeration are dropped, so a newer manifest still loads.
    if (json::has(value, "apiKeyVariables"))
        for (const auto& [raw, variable] : manifest::stringMap(
                 manifest::requiredObject(value, "apiKeyVariables"), "apiKeyVariables"))
            if (auto protocol = marrowbell::endpointProtocol(raw))
                spec.apiKeyVariables[*protocol] = variable;
    if (auto raw = json::optionalString(value, "endpointProtocol")) {
        spec.endpointProtocol = marrowbell::endpointProtocol(*raw);
        if (!spec.endpointProtocol)
            throw unknownValue("endpointProtocol", *raw);
    }
    const Json& permissions = manifest::requiredObject(value, "permissions");
    for (const auto& [raw, arguments] : permissions.items()) {
        if (!arguments.is_array())
            throw DecodeError("\"permissions\" is not an object of lists");
        std::vector<std::string> list;
        for (const Json& argument : arguments) {
            if (!argument.is_string())
                throw DecodeError("\"permissions\" is not an object of lists of strings");
            list.push_back(argument.get<std::string>());
        }
        if (auto level = permissionLevelFromRaw(raw))
            spec.permissions[*level] = std::move(list);
    }
    return spec;
}

} // namespace marrowbell
