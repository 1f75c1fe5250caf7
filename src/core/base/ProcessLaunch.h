#pragma once

#include <array>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace marrowbell {

// How every child process of this program is started, by the run executor and by the
// short-lived helpers alike: exactly the given arguments and environment, in a
// session and process group of its own (so that stopping it stops what it started,
// and it has no controlling terminal), with every signal at its default disposition
// and none blocked, and the given descriptors as its standard streams and no other.
//
// Exit statuses follow one convention wherever a child is waited for: the exit code,
// or for a process ended by a signal the signal's number (`exitStatus`).
struct ProcessLaunch {
    std::filesystem::path executable;
    std::vector<std::string> arguments; // after the program name
    // The complete environment; none passes this process's own.
    std::optional<std::map<std::string, std::string>> environment;
    std::optional<std::filesystem::path> workingDirectory;
    // Standard input, output and error; -1 opens the null device instead.
    std::array<int, 3> streams{-1, -1, -1};

    // Starts the child and returns its process id, or the errno value of the failure
    // as a negative number; nothing is left running then.
    pid_t start() const;

    // The status of a child that ended, from the status word of waitpid or wait.
    static int exitStatus(int waitStatus);
};

} // namespace marrowbell
