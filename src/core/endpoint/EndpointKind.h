#pragma once

#include "endpoint/EndpointProtocol.h"

#include <array>
#include <optional>
#include <string_view>

namespace marrowbell {

// What sort of server the user configured. Stored as its raw value ("lmStudio");
// `allEndpointKinds` is the order pickers show.
enum class EndpointKind { lmStudio, ollama, openAICompatible, anthropicCompatible };

inline constexpr std::array allEndpointKinds{EndpointKind::lmStudio, EndpointKind::ollama,
                                             EndpointKind::openAICompatible,
                                             EndpointKind::anthropicCompatible};

std::string_view rawValue(EndpointKind kind);
// "LM Studio", "Ollama", "OpenAI-compatible", "Anthropic-compatible".
std::string_view displayName(EndpointKind kind);
// `anthropic` for anthropicCompatible only.
EndpointProtocol wireProtocol(EndpointKind kind);
// True for the two "compatible" kinds, the ones offered an API key.
bool mayNeedAPIKey(EndpointKind kind);

// From a raw value in code: none for an unknown text.
std::optional<EndpointKind> endpointKind(std::string_view raw);
// From a stored file: an unknown text (a kind added by a later version) reads as
// openAICompatible, so the file still loads.
EndpointKind decodedEndpointKind(std::string_view raw);

} // namespace marrowbell
