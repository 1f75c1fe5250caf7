#pragma once

#include "base/Instant.h"
#include "base/Json.h"
#include "base/Uuid.h"

#include <cstdint>
#include <optional>
#include <string>

namespace marrowbell {

// One finished, refused or skipped run of a job, as kept by `RunHistory` in runs.json.
struct RunRecord {
    // What a record keeps of its texts, in bytes; a longer text is cut and ends in "…".
    // The whole output of a run is not the history's to keep.
    static constexpr std::size_t resultTextLimit = 16 * 1024;
    static constexpr std::size_t messageLimit = 4096; // failure message and warning

    Uuid id = Uuid::random();
    Uuid jobID;
    Instant startedAt;
    Seconds duration = 0;
    // The process's exit code; for a run refused before it started 1, for a skip 0.
    std::int32_t exitCode = 0;
    bool timedOut = false;
    bool wasCancelled = false;
    std::optional<std::int64_t> inputTokens;
    std::optional<std::int64_t> outputTokens;
    std::optional<std::string> resultText;
    std::optional<std::string> failureMessage;
    // A partial success; a run with only a warning still succeeded.
    std::optional<std::string> warning;

    // This record with its texts within the limits above.
    RunRecord bounded() const;

    // Exit code 0, neither timed out nor cancelled, and no failure message.
    bool succeeded() const;
    // "Cancelled after 5s", "Stopped at its time limit after 60m 0s", "Failed after 42s"
    // or "Finished in 5m 3s".
    std::string outcomeSummary() const;
    // The failure message, else the warning, else a non-empty result text, else "Finished.".
    std::string summary() const;
    // Notification body: the failure message (else the result text, else "Finished.")
    // and the warning, separated by a blank line and trimmed. Longer than `limit`
    // user-perceived characters, it is cut at the last space within the limit and
    // ends with "…".
    std::string notificationDetail(int limit) const;

    // The stored object: absent optionals left out, UUIDs upper-case, `startedAt` in
    // seconds since 2001. A non-finite number is written as 0 so the file always reads back.
    Json toJson() const;
    // Throws DecodeError on a missing, null or mistyped required key ("jobID",
    // "startedAt", "duration", "exitCode", "timedOut") or a mistyped optional one.
    // A missing "id" reads as a new identifier, a missing "wasCancelled" as false.
    static RunRecord fromJson(const Json& object);

    friend bool operator==(const RunRecord&, const RunRecord&) = default;
};

} // namespace marrowbell
