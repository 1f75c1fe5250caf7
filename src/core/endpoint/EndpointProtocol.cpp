#include "endpoint/EndpointProtocol.h"

namespace marrowbell {

std::string_view rawValue(EndpointProtocol protocol) {
    switch (protocol) {
    case EndpointProtocol::openAI:
        return "openAI";
    case EndpointProtocol::anthropic:
        return "anthropic";
    }
    return "openAI";
}

std::string_view displayName(EndpointProtocol protocol) {
    switch (protocol) {
    case EndpointProtocol::openAI:
        return "OpenAI";
    case EndpointProtocol::anthropic:
        return "Anthropic";
    }
    return "OpenAI";
}

std::optional<EndpointProtocol> endpointProtocol(std::string_view raw) {
    for (EndpointProtocol protocol : allEndpointProtocols)
        if (rawValue(protocol) == raw)
            return protocol;
    return std::nullopt;
}

} // namespace marrowbell
