#pragma once

#include "base/Json.h"
#include "endpoint/EndpointProtocol.h"
#include "harness/EventFormat.h"
#include "harness/LocalEndpointStyle.h"
#include "harness/ModelSource.h"
#include "harness/SkillSupport.h"
#include "job/PermissionLevel.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowbell {

enum class PromptDelivery { standardInput, positional };

// What actually confines a run of a harness; shown to the user.
enum class LimitEnforcement { operatingSystem, harnessPathChecks, toolAllowlist, none };
std::string_view explanation(LimitEnforcement enforcement);
std::string_view shortLabel(LimitEnforcement enforcement);

// The folders a sandboxed harness must still write (may start with "~", may hold "{uid}").
struct SandboxSupport {
    std::vector<std::string> writablePaths;
    friend bool operator==(const SandboxSupport&, const SandboxSupport&) = default;
};

// One harness as the manifest describes it: how to find it, call it without a
// terminal, grant each permission level, pass a model, skills, an endpoint and a key,
// and which event format it prints.
struct HarnessSpec {
    std::string id;
    std::string displayName;
    std::vector<std::string> executableNames;
    std::vector<std::string> subcommand;
    std::vector<std::string> headlessFlags;
    std::vector<std::string> structuredOutputFlags;
    PromptDelivery promptDelivery = PromptDelivery::standardInput;
    std::optional<std::string> modelFlag;
    std::optional<std::string> scopedWriteDirectoryFlag;
    EventFormat eventFormat = EventFormat::claudeStreamJSON;
    std::optional<SkillSupport> skills;
    std::optional<ModelSource> models;
    // A level missing from the map has no flag in this harness.
    std::map<PermissionLevel, std::vector<std::string>> permissions;
    LocalEndpointStyle localEndpoint;
    LimitEnforcement limitEnforcement = LimitEnforcement::none;
    std::optional<SandboxSupport> sandbox;
    std::map<EndpointProtocol, std::string> apiKeyVariables;
    // The only protocol the harness reads; none accepts any.
    std::optional<EndpointProtocol> endpointProtocol;

    // Reads the keys in a fixed order; the first failure is the DecodeError thrown.
    static HarnessSpec decode(const Json& value);
    friend bool operator==(const HarnessSpec&, const HarnessSpec&) = default;
};

} // namespace marrowbell
