#pragma once

#include "base/Instant.h"
#include "harness/BuiltCommand.h"
#include "run/RunExecutorError.h"
#include "run/RunOutcome.h"
#include "run/RunProcess.h"

#include <functional>
#include <span>
#include <stop_token>
#include <string_view>
#include <sys/types.h>

namespace marrowbell {

// Runs one built command as a child process with a time limit.
//
// The child gets exactly the command's arguments, environment and working folder,
// starts in a session (and process group) of its own, under a guard process that
// adopts everything it starts (see ProcessGuard), and reads the command's standard
// input (or end of input at once when there is none) from a pipe. Its standard output
// and error are read concurrently; every complete line of standard output goes to
// `onLine` as it arrives (on the calling thread, so it needs no locking of its own),
// and the last 256 KiB of each stream reach the outcome.
//
// The first of process exit, time limit and cancellation (`stopToken`) wins. A
// stopped run sends SIGTERM to the process group, waits up to 3 s for the process
// to exit and for every holder of its output pipes to let go, then sends SIGKILL and
// waits up to 3 s more. However a run ends, what it started is ended before the
// outcome is made: descendants still running when the harness has ended are sent
// SIGTERM, then SIGKILL after `leftoverGrace`, even those that left its group or
// session.
//
// Decisions where a stop or a drain cannot complete:
// - Exit code of a process still alive after the last SIGKILL wait (stuck in the
//   kernel): -1, which no real status can be. It is reaped in the background when
//   it finally dies, so it never lingers as a zombie.
// - Draining after the processes ended while something outside the run holds an output
//   pipe: reading continues for at most 2 s, then the pipes are closed and the outcome
//   is made with what arrived.
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
        Seconds leftoverGrace = 1;
    };

    RunExecutor() = default;
    explicit RunExecutor(Timing timing)
        : timing_(timing) {}

    // Throws RunExecutorError when the process cannot be launched (missing or
    // non-executable file, missing working folder, no file descriptors left).
    // A time limit of infinity means none; zero or less stops the process at once.
    // `onErrorLine` receives the lines of standard error as `onLine` those of standard
    // output; `onStarted` learns the run's processes once they started, before any output.
    RunOutcome run(const BuiltCommand& command, Seconds timeLimit,
                   std::function<void(std::string_view line)> onLine = {},
                   std::stop_token stopToken = {},
                   std::function<void(std::string_view line)> onErrorLine = {},
                   std::function<void(const RunProcess&)> onStarted = {}) const;

    // The same, handing over the lines of each read together (see OutputSink), so that
    // a chatty child costs its consumers a lock and a write per read, not per line.
    using LinesHandler = std::function<void(std::span<const std::string_view> lines)>;
    RunOutcome runInBatches(const BuiltCommand& command, Seconds timeLimit, LinesHandler onLines,
                            std::stop_token stopToken, LinesHandler onErrorLines,
                            std::function<void(const RunProcess&)> onStarted) const;

private:
    Timing timing_;
};

} // namespace marrowbell
