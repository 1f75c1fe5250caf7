#pragma once

#include "base/Instant.h"

#include <cstdint>
#include <string>

namespace marrowbell {

// The result of one execution of a built command.
struct RunOutcome {
    // The exit status; for a process ended by a signal, the signal's number (a run
    // stopped at its limit usually reports 15 or 9). -1 when there is no status: the
    // process was never started because the run was cancelled first, or it was still
    // alive after the last SIGKILL wait.
    std::int32_t exitCode = 0;
    std::string standardOutput; // the last 256 KiB, UTF-8 (invalid bytes replaced)
    std::string standardError;  // likewise
    Seconds duration = 0;       // from just before the launch to the assembled outcome
    bool timedOut = false;      // the time limit expired and the process was stopped
    bool cancelled = false;     // the caller cancelled and the process was stopped

    // Exit code 0, neither timed out nor cancelled.
    bool succeeded() const { return exitCode == 0 && !timedOut && !cancelled; }

    // One line for the user: "Cancelled after 5s", "Stopped at its time limit after
    // 1m 0s", "Exit 2 after 3s" or "Finished in 42s".
    std::string terminationSummary() const;

    friend bool operator==(const RunOutcome&, const RunOutcome&) = default;
};

} // namespace marrowbell
