#pragma once

#include "base/Instant.h"

#include <csignal>
#include <optional>
#include <sys/types.h>

namespace marrowbell {

// Starts a command under a guard: a small process forked from this one that starts
// the command in a session of its own and is the child subreaper of everything the
// command starts, so a descendant that leaves the command's group or session (setsid,
// a double fork) is still its descendant. When the command has ended, however it
// ended, the guard ends every descendant left (SIGTERM, then SIGKILL after
// `leftoverGrace`), reaps them, reports the command's wait status and exits: once the
// guard has exited, nothing the command started is running.
//
// The guard dies with the thread that started it (a parent-death signal), ending every
// descendant first; the command itself dies with the guard.
//
// Signals to the guard: `terminateSignal` passes SIGTERM on to the command's process
// group; `killSignal` ends the command and every descendant with SIGKILL at once.
class ProcessGuard {
public:
    static constexpr int terminateSignal = SIGTERM;
    static constexpr int killSignal = SIGUSR1;

    struct Spawn {
        const char* path = nullptr;
        char* const* argv = nullptr;
        char* const* envp = nullptr;
        const char* directory = nullptr; // none: this process's working folder
        int standardInput = -1, standardOutput = -1, standardError = -1; // all above 2
        Seconds leftoverGrace = 1;
    };

    // Forks the guard and waits until the command was started. Returns 0, or the
    // errno of the failed start (nothing is left running then).
    int start(const Spawn& spawn);

    pid_t guard() const { return guard_; }
    pid_t command() const { return command_; }

    // The command's wait status, once the guard has exited; none when the guard died
    // before reporting it.
    std::optional<int> commandStatus() const;

    ProcessGuard() = default;
    ~ProcessGuard();
    ProcessGuard(const ProcessGuard&) = delete;
    ProcessGuard& operator=(const ProcessGuard&) = delete;

private:
    pid_t guard_ = -1;
    pid_t command_ = -1;
    int report_ = -1; // read end of the guard's report pipe
};

} // namespace marrowbell
