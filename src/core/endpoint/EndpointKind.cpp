#include "endpoint/EndpointKind.h"

namespace marrowbell {

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
    return "openAICompatible";
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
    return "OpenAI-compatible";
}

EndpointProtocol wireProtocol(EndpointKind kind) {
    return kind == EndpointKind::anthropicCompatible ? EndpointProtocol::anthropic
                                                     : EndpointProtocol::openAI;
}

bool mayNeedAPIKey(EndpointKind kind) {
    return kind == EndpointKind::openAICompatible || kind == EndpointKind::anthropicCompatible;
}

std::optional<EndpointKind> endpointKind(std::string_view raw) {
    for (EndpointKind kind : allEndpointKinds)
        if (rawValue(kind) == raw)
            return kind;
    return std::nullopt;
}

EndpointKind decodedEndpointKind(std::string_view raw) {
    return endpointKind(raw).value_or(EndpointKind::openAICompatible);
}

} // namespace marrowbell
