#include "harness/PendingRecords.h"

namespace marrowbell {

std::optional<PermissionLevel> permissionLevelFromRaw(std::string_view raw) {
    for (auto level :
         {PermissionLevel::readOnly, PermissionLevel::scopedWrite, PermissionLevel::fullAccess})
        if (rawValue(level) == raw)
            return level;
    return std::nullopt;
}
std::string_view rawValue(PermissionLevel level) {
    switch (level) {
    case PermissionLevel::readOnly:
        return "readOnly";
    case PermissionLevel::scopedWrite:
        return "scopedWrite";
    case PermissionLevel::fullAccess:
        return "fullAccess";
    }
    return "";
}
std::string plainTitle(PermissionLevel level) {
    switch (level) {
    case PermissionLevel::readOnly:
        return "Look, don't touch (read-only)";
    case PermissionLevel::scopedWrite:
        return "Write in this folder only (scoped write)";
    case PermissionLevel::fullAccess:
        return "Anywhere on this Mac (full access)";
    }
    return "";
}

std::optional<EndpointProtocol> endpointProtocolFromRaw(std::string_view raw) {
    if (raw == "openAI")
        return EndpointProtocol::openAI;
    if (raw == "anthropic")
        return EndpointProtocol::anthropic;
    return std::nullopt;
}
std::string_view rawValue(EndpointProtocol protocol) {
    return protocol == EndpointProtocol::openAI ? "openAI" : "anthropic";
}
std::string_view displayName(EndpointProtocol protocol) {
    return protocol == EndpointProtocol::openAI ? "OpenAI" : "Anthropic";
}

std::optional<EndpointKind> endpointKindFromRaw(std::string_view raw) {
    for (auto kind : {EndpointKind::lmStudio, EndpointKind::ollama, EndpointKind::openAICompatible,
                      EndpointKind::anthropicCompatible})
        if (rawValue(kind) == raw)
            return kind;
    return std::nullopt;
}
std::string_view rawValue(EndpointKind kind) {
    switch (kind) {
    case EndpointKind::lmStudio:
        return "lmStudio";
    case EndpointKind::ollama:
        return "ollama";
    case EndpointKind::openAICompatible:
        return "openAICompatible";
    case EndpointKind::anthropicCompatible:
        return "anthropicCompatible";
    }
    return "";
}
std::string_view displayName(EndpointKind kind) {
    switch (kind) {
    case EndpointKind::lmStudio:
        return "LM Studio";
    case EndpointKind::ollama:
        return "Ollama";
    case EndpointKind::openAICompatible:
        return "OpenAI-compatible";
    case EndpointKind::anthropicCompatible:
        return "Anthropic-compatible";
    }
    return "";
}
EndpointProtocol wireProtocol(EndpointKind kind) {
    return kind == EndpointKind::anthropicCompatible ? EndpointProtocol::anthropic
                                                     : EndpointProtocol::openAI;
}
bool mayNeedAPIKey(EndpointKind kind) {
    return kind == EndpointKind::openAICompatible || kind == EndpointKind::anthropicCompatible;
}

} // namespace marrowbell
