#pragma once

#include "base/Instant.h"
#include "base/Json.h"

namespace marrowbell {

// The limits that apply to a run. The settings hold the defaults; a job may
// replace the time limit (see Job::effectiveLimits).
struct RunLimits {
    Seconds timeoutSeconds = 3600;
    bool notifyOnFailureOnly = true; // announce only runs that did not succeed

    // Missing or null keys take the defaults above; a wrong type throws DecodeError.
    static RunLimits fromJson(const Json& value);
    // Both keys, always.
    Json toJson() const;

    friend bool operator==(const RunLimits&, const RunLimits&) = default;
};

} // namespace marrowbell
