#pragma once

#include "base/Instant.h"
#include "harness/BuiltCommand.h"
#include "run/RunExecutorError.h"
#include "run/RunOutcome.h"

#include <functional>
#include <stop_token>
#include <string_view>
#include <sys/types.h>

namespace marrowbell {

// Runs one built command as a child process with a time limit.
//
// The child gets exactly the command's arguments, environment and working folder,
// runs in a process group of its own, and reads the command's standard input (or
// end of input at once when there is none) from a pipe. Its standard output and
// error are read concurrently; every complete line of standard output goes to
// `onLine` as it arrives (on the calling thread, so it needs no locking of its
// own), and the last 256 KiB of each stream reach the outcome.
//
// The first of process exit, time limit and cancellation (`stopToken`) wins. A
// stopped run sends SIGTERM to the process group, waits up to 3 s for the process
// to exit and for every holder of its output pipes to let go, then sends SIGKILL to
// the group and waits up to 3 s more; once stopped, whatever is left of the group
// is killed before the outcome is made, so nothing of a stopped run keeps running.
//
// Decisions where a stop or a drain cannot complete:
// - Exit code of a process still alive after the last SIGKILL wait (stuck in the
//   kernel): -1, which no real status can be. It is reaped in the background when
//   it finally dies, so it never lingers as a zombie.
// - Draining after the main process exited while a descendant (a background job of
//   the harness) still holds an output pipe: reading continues for at most 2 s after
//   the exit, then the pipes are closed and the outcome is made with what arrived.
//   The descendant is left alone (the run finished normally; it may be a deliberate
//   background process) and only sees a broken pipe if it writes again.
// - A run whose `stopToken` was already stopped when `run` was called starts no
//   process at all: the outcome is cancelled, with exit code -1.
//
// Holds no state; any number of runs may proceed concurrently.
class RunExecutor {
public:
    // The waits of the stop and drain procedures; tests shorten them.
    struct Timing {
        Seconds terminateGrace = 3;
        Seconds killGrace = 3;
        Seconds drainLimit = 2;
    };

    RunExecutor() = default;
    explicit RunExecutor(Timing timing)
        : timing_(timing) {}

    // Throws RunExecutorError when the process cannot be launched (missing or
    // non-executable file, missing working folder, no file descriptors left).
    // A time limit of infinity means none; zero or less stops the process at once.
    // `onErrorLine` receives the lines of standard error as `onLine` those of standard
    // output; `onStarted` the child's process id once it runs.
    RunOutcome run(const BuiltCommand& command, Seconds timeLimit,
                   std::function<void(std::string_view line)> onLine = {},
                   std::stop_token stopToken = {},
                   std::function<void(std::string_view line)> onErrorLine = {},
                   std::function<void(pid_t pid)> onStarted = {}) const;

private:
    Timing timing_;
};

} // namespace marrowbell
