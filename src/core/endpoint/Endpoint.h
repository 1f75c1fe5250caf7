#pragma once

#include "base/Json.h"
#include "base/Uuid.h"
#include "endpoint/EndpointKind.h"
#include "endpoint/Url.h"

#include <optional>
#include <string>
#include <string_view>

namespace marrowbell {

// A model server a harness can be pointed at. Its API key is never part of the
// record: it lives in the credential store under `id` (SecretStore).
struct Endpoint {
    Uuid id;
    std::string name;
    Url baseURL; // scheme, host, port and any path prefix the server expects
    EndpointKind kind = EndpointKind::openAICompatible;

    // "host:port" (the port only when the URL names one), "host", or the whole
    // address when the URL has no host. Never the scheme or the path.
    std::string shortDescription() const;

    // The acceptance rule for a typed base URL (the caller trims white space):
    // it must parse, its scheme must be http or https in any case, and it must
    // have a non-empty host, and it must not carry a user name or password (the
    // address is stored and shown; a key belongs in the credential store). The
    // accepted URL is the text unchanged.
    static std::optional<Url> validated(std::string_view text);

    // A base URL as a person typed it, for every front end that takes one (the
    // settings window's "Base URL" field, `marrowbellctl endpoints add` and `edit`):
    // trimmed of surrounding white space, then `validated`. The URL, or the message
    // to show under the field.
    struct TypedAddress {
        std::optional<Url> url;
        std::string_view refusal; // set when `url` is none
    };
    static TypedAddress acceptedAddress(std::string_view typed);

    // {"id", "name", "baseURL", "kind"}; all four are required when decoding,
    // which throws DecodeError. An unknown kind reads as openAICompatible.
    Json toJson() const;
    static Endpoint fromJson(const Json& value);

    friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

// The message shown when `validated` rejects a typed address.
inline constexpr std::string_view invalidEndpointAddressMessage =
    "Needs a full address, like http://127.0.0.1:1234/v1";
// The message shown when `validated` rejects an address for its credentials.
inline constexpr std::string_view endpointCredentialsMessage =
    "The address holds a user name or password; leave them out and store the key with "
    "marrowbellctl endpoints set-key ENDPOINT";

} // namespace marrowbell
