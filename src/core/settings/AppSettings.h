#pragma once

#include "base/Instant.h"
#include "base/Json.h"
#include "base/Uuid.h"
#include "job/RunLimits.h"

#include <cstdint>
#include <optional>
#include <string>

namespace marrowbell {

// The global settings, stored in "settings.json".
struct AppSettings {
    RunLimits defaults;                          // default run limits
    std::optional<std::string> defaultHarnessID; // harness preselected for a new job
    std::optional<Uuid> defaultEndpointID;       // "Defaults for new jobs" endpoint
    // How late a missed scheduled run may still start; 0 skips every missed run.
    Seconds catchUpGraceSeconds = 3600;
    // How many bytes the run transcripts may take together; the oldest go first.
    std::uint64_t transcriptLimitBytes = std::uint64_t(1) << 30;

    // Every key may be missing (or null) and then takes its default; a value of
    // the wrong type, or a "defaultEndpointID" that is not a UUID, throws DecodeError.
    // A "transcriptLimitBytes" below 0 (or beyond 2^63) takes its default.
    static AppSettings fromJson(const Json& value);
    // Absent optional values are left out.
    Json toJson() const;

    friend bool operator==(const AppSettings&, const AppSettings&) = default;
};

} // namespace marrowbell
