#pragma once

#include "base/Instant.h"
#include "base/Json.h"

#include <optional>

namespace marrowbell {

// A job's replacement of the default run limits. No range is enforced.
struct LimitOverrides {
    std::optional<Seconds> timeoutSeconds;

    bool isEmpty() const { return !timeoutSeconds; }

    // Missing or null "timeoutSeconds" reads as none; a wrong type throws DecodeError.
    static LimitOverrides fromJson(const Json& value);
    // "timeoutSeconds" is left out when none ({} then).
    Json toJson() const;

    friend bool operator==(const LimitOverrides&, const LimitOverrides&) = default;
};

} // namespace marrowbell
