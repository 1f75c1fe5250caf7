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
    // The endpoint is described to the harness as configuration for this run alone:
    // `content` holds, per endpoint protocol raw text, a JSON template whose strings
    // may name the placeholders of `rendered`. It reaches the harness as
    //  - `overrides`: each leaf as `flag` "dotted.path=value", the value written as JSON
    //    (which the harness reads as TOML);
    //  - `environment`: the whole document in the environment variable `variable`;
    //  - `file`: the document as the file `fileName` in a folder private to the run,
    //    named by the environment variable `variable`.
    // The model is passed as `model` with "{model}" replaced.
    struct Configuration {
        enum class Delivery { overrides, environment, file };
        Delivery delivery = Delivery::overrides;
        std::string flag;
        std::string variable;
        std::string fileName;
        std::string model;
        std::map<std::string, Json> content;

        // The template for `protocol` with every placeholder replaced: "{baseURL}" (the
        // endpoint's address without a trailing "/"), "{endpointName}", "{model}" and
        // "{keyVariable}" (the variable holding the key). A member or list item naming
        // a placeholder that has no value is left out. None without a template for
        // the protocol.
        std::optional<Json> rendered(const std::string& protocol,
                                     const std::map<std::string, std::string>& values) const;
        // `rendered`'s leaves as "dotted.path=JSON value", in key order.
        static std::vector<std::string> overrides(const Json& document);
        friend bool operator==(const Configuration&, const Configuration&) = default;
    };
    struct Unsupported {
        friend bool operator==(const Unsupported&, const Unsupported&) = default;
    };

    std::variant<Environment, LocalProvider, ModelPrefix, Configuration, Unsupported> style;

    static LocalEndpointStyle decode(const Json& value);
    friend bool operator==(const LocalEndpointStyle&, const LocalEndpointStyle&) = default;
};

} // namespace marrowbell
