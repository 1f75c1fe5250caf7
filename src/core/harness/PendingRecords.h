#pragma once

// Stand-ins for the job and endpoint records until those land on this branch.

#include "base/Uuid.h"

#include <optional>
#include <string>
#include <string_view>

namespace marrowbell {

enum class PermissionLevel { readOnly, scopedWrite, fullAccess };
std::optional<PermissionLevel> permissionLevelFromRaw(std::string_view raw);
std::string_view rawValue(PermissionLevel level);
std::string plainTitle(PermissionLevel level);

enum class EndpointProtocol { openAI, anthropic };
std::optional<EndpointProtocol> endpointProtocolFromRaw(std::string_view raw);
std::string_view rawValue(EndpointProtocol protocol);
std::string_view displayName(EndpointProtocol protocol);

enum class EndpointKind { lmStudio, ollama, openAICompatible, anthropicCompatible };
std::optional<EndpointKind> endpointKindFromRaw(std::string_view raw);
std::string_view rawValue(EndpointKind kind);
std::string_view displayName(EndpointKind kind);
EndpointProtocol wireProtocol(EndpointKind kind);
bool mayNeedAPIKey(EndpointKind kind);

struct Endpoint {
    Uuid id;
    std::string name;
    std::string baseURL;
    EndpointKind kind = EndpointKind::lmStudio;
    friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

} // namespace marrowbell
