#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace marrowbell {

// The wire protocol a model server speaks. Stored as its raw value ("openAI").
enum class EndpointProtocol { openAI, anthropic };

inline constexpr std::array allEndpointProtocols{EndpointProtocol::openAI,
                                                 EndpointProtocol::anthropic};

std::string_view rawValue(EndpointProtocol protocol);
// "OpenAI", "Anthropic".
std::string_view displayName(EndpointProtocol protocol);
// Strict: none for any text that is not a raw value.
std::optional<EndpointProtocol> endpointProtocol(std::string_view raw);

} // namespace marrowbell
