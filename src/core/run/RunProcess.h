#pragma once

#include <cstdint>
#include <optional>
#include <sys/types.h>

namespace marrowbell {

// The processes of one run as the kernel knows them, enough to find them again from
// another process after this one died: the guard that adopts everything the run
// starts, and the harness, which leads a process group (and session) of its own. A
// start time (clock ticks after boot, from /proc/PID/stat) tells a process from a
// later one that reuses its id.
struct RunProcess {
    pid_t guard = -1;
    std::uint64_t guardStartTime = 0;
    pid_t group = -1;
    std::uint64_t groupStartTime = 0;

    // The start time of process `pid`, none when there is no such process.
    static std::optional<std::uint64_t> startTime(pid_t pid);

    // Ends what is left of the run when its own scheduler is gone: the guard (which
    // ends every descendant it adopted) and the harness's process group. A process
    // whose id now belongs to a later process (another start time) is left alone; a
    // group whose leader is gone can still be signalled, since its id cannot be reused
    // while the group has members.
    void end() const;

    friend bool operator==(const RunProcess&, const RunProcess&) = default;
};

} // namespace marrowbell
