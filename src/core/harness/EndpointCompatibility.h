#pragma once

#include "endpoint/EndpointKind.h"
#include "endpoint/EndpointProtocol.h"

#include <optional>
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
    // The harness has no way to be pointed at an endpoint of `kind` for one run: a job
    // on it would run against whatever the harness's own settings name.
    struct NoPerRunWay {
        EndpointKind kind;
        friend bool operator==(const NoPerRunWay&, const NoPerRunWay&) = default;
    };
    struct Compatible {
        friend bool operator==(const Compatible&, const Compatible&) = default;
    };

    std::variant<Compatible, WrongProtocol, ProviderMissing, NoPerRunWay> value;

    bool isCompatible() const { return std::holds_alternative<Compatible>(value); }

    // Why a job on `harness` (a display name) cannot use `endpoint` (a name), as one
    // sentence for the user; none when compatible.
    std::optional<std::string> reason(const std::string& harness,
                                      const std::string& endpoint) const;
    friend bool operator==(const EndpointCompatibility&, const EndpointCompatibility&) = default;
};

} // namespace marrowbell
