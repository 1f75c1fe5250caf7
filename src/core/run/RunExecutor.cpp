#include "run/RunExecutor.h"

#include "base/ProcessLaunch.h"
#include "run/OutputSink.h"
#include "run/ProcessGuard.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace marrowbell {

namespace {

using Clock = std::chrono::steady_clock;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd)
        : fd_(fd) {}
    Fd(Fd&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        reset(std::exchange(other.fd_, -1));
        return *this;
    }
    ~Fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

std::string describe(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

// Both ends close on exec and sit above 0–2, so that the child's dup2 onto its
// standard streams never meets a descriptor that is already in place.
bool makePipe(Fd& readEnd, Fd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    for (int& fd : fds) {
        if (fd <= 2) {
            int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
            int saved = errno;
            ::close(fd);
            fd = moved;
            errno = saved;
        }
    }
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    if (!readEnd || !writeEnd)
        return false;
    return true;
}

void setNonBlocking(const Fd& fd) {
    if (fd)
        ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
}

// A write to a pipe whose reader is gone must fail with EPIPE rather than raise
// SIGPIPE, which would end this whole program. Blocking it for the calling thread
// and swallowing the one the write generated leaves the process's handlers alone.
ssize_t writeWithoutSigpipe(int fd, const char* data, std::size_t size) {
    sigset_t pipeSignal, previous, pendingBefore;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    sigpending(&pendingBefore);
    ssize_t written = ::write(fd, data, size);
    int error = errno;
    if (written < 0 && error == EPIPE && !sigismember(&pendingBefore, SIGPIPE)) {
        timespec zero{};
        while (::sigtimedwait(&pipeSignal, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return written;
}

bool hasExited(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

// Until reaped, the guard's id cannot be reused, which keeps signalling it safe. If
// `run` leaves early (a throwing line callback), the guard ends the run's processes
// and is reaped here so nothing is left behind.
class ChildGuard {
public:
    explicit ChildGuard(pid_t pid)
        : pid_(pid) {}
    ~ChildGuard() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, ProcessGuard::killSignal);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    ChildGuard(const ChildGuard&) = delete;
    ChildGuard& operator=(const ChildGuard&) = delete;
    void release() { pid_ = -1; }

private:
    pid_t pid_;
};

std::optional<Clock::time_point> deadlineAfter(Clock::time_point start, Seconds limit) {
    if (std::isnan(limit) || limit > 1e9) // no limit, or one past any run's lifetime
        return std::nullopt;
    if (limit <= 0)
        return start;
    return start +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limit));
}

Clock::duration secondsDuration(Seconds seconds) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::max(0.0, seconds)));
}

int pollTimeout(std::optional<Clock::time_point> due, Clock::time_point now) {
    if (!due)
        return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

constexpr std::size_t readBufferSize = 256 * 1024;

} // namespace

RunOutcome RunExecutor::run(const BuiltCommand& command, Seconds timeLimit,
                            std::function<void(std::string_view line)> onLine,
                            std::stop_token stopToken,
                            std::function<void(std::string_view line)> onErrorLine,
                            std::function<void(const RunProcess&)> onStarted) const {
    auto each = [](std::function<void(std::string_view line)> handler) -> LinesHandler {
        if (!handler)
            return {};
        return [handler = std::move(handler)](std::span<const std::string_view> lines) {
            for (std::string_view line : lines)
                handler(line);
        };
    };
    return runInBatches(command, timeLimit, each(std::move(onLine)), std::move(stopToken),
                        each(std::move(onErrorLine)), std::move(onStarted));
}

RunOutcome RunExecutor::runInBatches(const BuiltCommand& command, Seconds timeLimit,
                                     LinesHandler onLine, std::stop_token stopToken,
                                     LinesHandler onErrorLine,
                                     std::function<void(const RunProcess&)> onStarted) const {
    const Clock::time_point start = Clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };

    if (stopToken.stop_requested()) {
        RunOutcome outcome;
        outcome.exitCode = -1;
        outcome.cancelled = true;
        outcome.duration = elapsed();
        return outcome;
    }

    auto fail = [&](int error) {
        return RunExecutorError::couldNotStart(command.executable, describe(error));
    };
    Fd inRead, inWrite, outRead, outWrite, errRead, errWrite;
    if (!makePipe(inRead, inWrite) || !makePipe(outRead, outWrite) || !makePipe(errRead, errWrite))
        throw fail(errno);
    Fd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake)
        throw fail(errno);

    std::vector<std::string> argumentStrings;
    argumentStrings.reserve(command.arguments.size() + 1);
    argumentStrings.push_back(command.executable.string());
    argumentStrings.insert(argumentStrings.end(), command.arguments.begin(),
                           command.arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argumentStrings)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environmentStrings;
    for (const auto& [name, value] : command.environment)
        environmentStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : environmentStrings)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    ProcessGuard::Spawn spawn;
    spawn.path = argv[0];
    spawn.argv = argv.data();
    spawn.envp = envp.data();
    spawn.directory = command.workingDirectory.empty() ? nullptr : command.workingDirectory.c_str();
    spawn.standardInput = inRead.get();
    spawn.standardOutput = outWrite.get();
    spawn.standardError = errWrite.get();
    spawn.leftoverGrace = timing_.leftoverGrace;
    ProcessGuard process;
    if (int error = process.start(spawn); error != 0)
        throw fail(error);
    const pid_t pid = process.guard();
    ChildGuard guard(pid);
    inRead.reset();
    outWrite.reset();
    errWrite.reset();
    if (onStarted) {
        RunProcess started{pid, RunProcess::startTime(pid).value_or(0), process.command(),
                           RunProcess::startTime(process.command()).value_or(0)};
        onStarted(started);
    }

    Fd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    setNonBlocking(outRead);
    setNonBlocking(errRead);
    setNonBlocking(inWrite);
    ::fcntl(outRead.get(), F_SETPIPE_SZ, 1 << 20); // fewer wake-ups for chatty children

    OutputSink standardOutput(std::move(onLine));
    OutputSink standardError(std::move(onErrorLine));
    std::stop_callback wakeOnStop(stopToken, [fd = wake.get()] {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(fd, &one, sizeof one);
    });

    std::string_view input;
    if (command.standardInput && !command.standardInput->empty())
        input = *command.standardInput;
    else
        inWrite.reset(); // end of input at once
    std::size_t written = 0;
    auto writeInput = [&] {
        while (written < input.size()) {
            ssize_t n =
                writeWithoutSigpipe(inWrite.get(), input.data() + written, input.size() - written);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                return;
            } else if (!(n < 0 && errno == EINTR)) {
                break; // the child closed its input or exited: ignored
            }
        }
        inWrite.reset();
    };

    std::unique_ptr<char[]> buffer(new char[readBufferSize]); // not zeroed: filled by read()
    // Reads what is available; a few rounds per wake-up keep up with fast writers.
    auto readFrom = [&](Fd& fd, OutputSink& sink, int rounds) {
        while (fd && rounds-- > 0) {
            ssize_t n = ::read(fd.get(), buffer.get(), readBufferSize);
            if (n > 0) {
                sink.ingest({buffer.get(), static_cast<std::size_t>(n)});
            } else if (n == 0) {
                fd.reset();
            } else if (errno != EINTR) {
                if (errno != EAGAIN)
                    fd.reset();
                return;
            }
        }
    };

    enum class Phase { running, terminating, killing, draining };
    Phase phase = Phase::running;
    bool exited = false, timedOut = false, cancelled = false;
    const std::optional<Clock::time_point> limit = deadlineAfter(start, timeLimit);
    Clock::time_point phaseDeadline{};
    auto beginStop = [&](Clock::time_point now) {
        ::kill(pid, ProcessGuard::terminateSignal);
        phase = Phase::terminating;
        phaseDeadline = now + secondsDuration(timing_.terminateGrace);
        inWrite.reset();
    };

    for (;;) {
        Clock::time_point now = Clock::now();
        if (exited && phase == Phase::running) {
            phase = Phase::draining;
            phaseDeadline = now + secondsDuration(timing_.drainLimit);
            inWrite.reset();
        }
        // A stop is complete when the child is gone and nothing holds its pipes.
        if (exited && !outRead && !errRead)
            break;
        std::optional<Clock::time_point> due = phase == Phase::running ? limit : phaseDeadline;
        if (due && now >= *due) {
            if (phase == Phase::running) {
                timedOut = true;
                beginStop(now);
                continue;
            }
            if (phase == Phase::terminating) {
                ::kill(pid, ProcessGuard::killSignal);
                phase = Phase::killing;
                phaseDeadline = now + secondsDuration(timing_.killGrace);
                continue;
            }
            break; // killing or draining: give up waiting
        }

        pollfd fds[5];
        int count = 0, pidIndex = -1, outIndex = -1, errIndex = -1, inIndex = -1, wakeIndex = -1;
        auto add = [&](const Fd& fd, short events, int& index) {
            if (!fd)
                return;
            index = count;
            fds[count++] = {fd.get(), events, 0};
        };
        if (!exited)
            add(pidfd, POLLIN, pidIndex);
        add(outRead, POLLIN, outIndex);
        add(errRead, POLLIN, errIndex);
        add(inWrite, POLLOUT, inIndex);
        if (phase == Phase::running)
            add(wake, POLLIN, wakeIndex);
        int timeout = pollTimeout(due, now);
        if (!pidfd && !exited) // no pidfd (very old kernel): look for the exit now and then
            timeout = timeout < 0 ? 10 : std::min(timeout, 10);
        if (::poll(fds, static_cast<nfds_t>(count), timeout) < 0) {
            if (errno != EINTR)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if ((pidIndex >= 0 && fds[pidIndex].revents) || (!pidfd && !exited && hasExited(pid)))
            exited = true;
        if (outIndex >= 0 && fds[outIndex].revents)
            readFrom(outRead, standardOutput, 4);
        if (errIndex >= 0 && fds[errIndex].revents)
            readFrom(errRead, standardError, 4);
        if (inIndex >= 0 && fds[inIndex].revents)
            writeInput();
        if (wakeIndex >= 0 && fds[wakeIndex].revents && !exited) {
            cancelled = true;
            beginStop(Clock::now());
        }
    }

    // Whatever is already buffered, without waiting for more.
    readFrom(outRead, standardOutput, 64);
    readFrom(errRead, standardError, 64);
    outRead.reset();
    errRead.reset();
    inWrite.reset();
    if (!exited)
        exited = hasExited(pid);
    if (!exited) {
        // A guard that did not finish its work in time is killed; the harness dies with
        // it (its parent-death signal).
        ::kill(pid, SIGKILL);
    }
    std::int32_t exitCode = -1;
    if (exited) {
        siginfo_t info{};
        while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED) < 0 && errno == EINTR) {
        }
        if (std::optional<int> status = process.commandStatus())
            exitCode = ProcessLaunch::exitStatus(*status);
        else
            exitCode = info.si_status; // the guard's own end
    } else {
        std::thread([pid] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
    guard.release();

    standardOutput.finish();
    standardError.finish();
    RunOutcome outcome;
    outcome.exitCode = exitCode;
    outcome.standardOutput = standardOutput.text();
    outcome.standardError = standardError.text();
    outcome.timedOut = timedOut;
    outcome.cancelled = cancelled;
    outcome.duration = elapsed();
    return outcome;
}

} // namespace marrowbell
