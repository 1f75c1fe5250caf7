#pragma once

#include "base/Instant.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace marrowbell {

// A short-lived helper process of the harness area (login shell, shim resolver,
// listing commands): one output stream captured, the others on the null device.
struct ChildProcess {
    enum class Stream { standardOutput, standardError };

    std::filesystem::path executable;
    std::vector<std::string> arguments;
    // Complete environment; none inherits this process's own.
    std::optional<std::map<std::string, std::string>> environment;
    std::optional<std::filesystem::path> workingDirectory;
    Stream captured = Stream::standardOutput;
    // After this long the process group is asked to terminate (SIGTERM, then SIGKILL
    // after a short grace) and the output collected so far is discarded.
    Seconds timeout = 30;

    struct Result {
        bool started = false;
        bool timedOut = false;
        // The exit status; for a process ended by a signal, the signal's number, as
        // in a run's outcome. -1 when there is none.
        int exitStatus = -1;
        std::string output; // empty when not started or timed out
    };

    // Blocks until the process has ended (or been ended) and its stream is drained.
    Result run() const;
};

} // namespace marrowbell
