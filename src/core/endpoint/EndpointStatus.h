#pragma once

#include "base/Instant.h"
#include "base/Uuid.h"
#include "endpoint/EndpointReachability.h"

#include <string>
#include <vector>

namespace marrowbell {

// One check of one endpoint.
struct EndpointStatus {
    Uuid endpointID;
    std::string endpointName; // at the time of the check
    EndpointReachability reachability;
    Instant checkedAt; // when the answer arrived

    bool isReachable() const;
    // The listed models when reachable, otherwise none.
    std::vector<std::string> models() const;
    // "Reachable", "Reachable · 2 models", "{name} could not be reached — {reason}"
    // or "Reachable, but the key was refused".
    std::string summary() const;

    friend bool operator==(const EndpointStatus&, const EndpointStatus&) = default;
};

} // namespace marrowbell
