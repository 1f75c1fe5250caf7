#pragma once

#include "endpoint/EndpointProtocol.h"

#include <string>
#include <variant>

namespace marrowbell {

// Whether a harness can use an endpoint at all.
struct EndpointCompatibility {
    // The harness reads only `harness` and the endpoint speaks `endpoint`.
    struct WrongProtocol {
        EndpointProtocol harness;
        EndpointProtocol endpoint;
        friend bool operator==(const WrongProtocol&, const WrongProtocol&) = default;
    };
    // The harness reaches endpoints through named providers and its settings file
    // (`configuredIn`, as the manifest writes it) lacks `provider`.
    struct ProviderMissing {
        std::string provider;
        std::string configuredIn;
        friend bool operator==(const ProviderMissing&, const ProviderMissing&) = default;
    };
    struct Compatible {
        friend bool operator==(const Compatible&, const Compatible&) = default;
    };

    std::variant<Compatible, WrongProtocol, ProviderMissing> value;

    bool isCompatible() const { return std::holds_alternative<Compatible>(value); }
    friend bool operator==(const EndpointCompatibility&, const EndpointCompatibility&) = default;
};

} // namespace marrowbell
