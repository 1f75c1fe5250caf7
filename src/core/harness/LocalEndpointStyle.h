#pragma once

#include "base/Json.h"

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace marrowbell {

// The harness's own settings file (`path`, may start with "~") and the top-level key
// whose object's keys are its configured provider names.
struct ProviderSource {
    std::string path;
    std::string key;
    friend bool operator==(const ProviderSource&, const ProviderSource&) = default;
};

// How a harness can be pointed at a user's endpoint for one run. Tagged by "style";
// an unrecognised style reads as `Unsupported`.
struct LocalEndpointStyle {
    // The base URL goes into the environment variable `variable`.
    struct Environment {
        std::string variable;
        friend bool operator==(const Environment&, const Environment&) = default;
    };
    // `flags` select the local-provider mode; `providerFlag` names the provider,
    // taken from `providerNames` by endpoint-kind raw text.
    struct LocalProvider {
        std::vector<std::string> flags;
        std::string providerFlag;
        std::map<std::string, std::string> providerNames;
        friend bool operator==(const LocalProvider&, const LocalProvider&) = default;
    };
    // The endpoint is reached through the model name "{prefix}/{model}", prefix by
    // endpoint-kind raw text.
    struct ModelPrefix {
        std::map<std::string, std::string> prefixes;
        std::optional<ProviderSource> providers;
        friend bool operator==(const ModelPrefix&, const ModelPrefix&) = default;
    };
    struct Unsupported {
        friend bool operator==(const Unsupported&, const Unsupported&) = default;
    };

    std::variant<Environment, LocalProvider, ModelPrefix, Unsupported> style;

    static LocalEndpointStyle decode(const Json& value);
    friend bool operator==(const LocalEndpointStyle&, const LocalEndpointStyle&) = default;
};

} // namespace marrowbell
