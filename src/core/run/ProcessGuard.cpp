#include "run/ProcessGuard.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

// Everything between fork() and the guard's _exit() runs in a copy of a process that
// may have had many threads: only async-signal-safe calls, no allocation, no locks.

namespace marrowbell {

namespace {

constexpr int reportFd = 3;

// What the guard writes on its report pipe: first the start (the command's id and 0,
// or -1 and the errno of the failure), then, when it is done, 1 and the wait status.
struct Report {
    std::int32_t first = 0;
    std::int32_t second = 0;
};

bool writeAll(int fd, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t readAll(int fd, void* data, std::size_t size) {
    char* bytes = static_cast<char*>(data);
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::int64_t monotonicMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Sends `signal` to every child of this single-threaded process, as listed by
// /proc/self/task/{pid}/children; returns how many there were.
int signalChildren(pid_t self, int signal) {
    char path[64] = "/proc/self/task/";
    std::size_t length = 16;
    char digits[16];
    int count = 0;
    for (pid_t rest = self; rest > 0; rest /= 10)
        digits[count++] = static_cast<char>('0' + rest % 10);
    while (count > 0)
        path[length++] = digits[--count];
    const char suffix[] = "/children";
    for (char c : suffix)
        path[length++] = c;

    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    int signalled = 0;
    pid_t pid = 0;
    char buffer[1024];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n; ++i) {
            char c = buffer[i];
            if (c >= '0' && c <= '9') {
                pid = pid * 10 + (c - '0');
            } else if (pid > 0) {
                ::kill(pid, signal);
                if (signal != SIGKILL)
                    ::kill(pid, SIGCONT); // a stopped process must wake to see it
                ++signalled;
                pid = 0;
            }
        }
    }
    if (pid > 0) {
        ::kill(pid, signal);
        ++signalled;
    }
    ::close(fd);
    return signalled;
}

// Reaps every child that has ended, noting the command's status. False once no child
// is left at all.
bool reapEnded(pid_t command, int& status, bool& commandEnded) {
    for (;;) {
        int childStatus = 0;
        pid_t pid = ::waitpid(-1, &childStatus, WNOHANG | __WALL);
        if (pid > 0) {
            if (pid == command) {
                status = childStatus;
                commandEnded = true;
            }
            continue;
        }
        if (pid < 0 && errno == EINTR)
            continue;
        return !(pid < 0 && errno == ECHILD);
    }
}

[[noreturn]] void runGuard(const ProcessGuard::Spawn& spawn, pid_t parent, int reportWrite) {
    sigset_t all;
    ::sigfillset(&all);
    ::sigprocmask(SIG_SETMASK, &all, nullptr);
    // A guard outliving the thread that started it ends the run (SIGHUP, below).
    ::prctl(PR_SET_PDEATHSIG, SIGHUP);
    bool parentGone = ::getppid() != parent;
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    ::setpgid(0, 0); // out of the terminal's group: Ctrl-C is the scheduler's to handle
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        ::sigaction(signal, &standard, nullptr); // fails harmlessly for KILL and STOP

    // The command's standard streams at 0–2, the report pipe at 3, nothing else open:
    // a guard holding another run's pipe would keep that run from ever seeing its end.
    ::dup2(spawn.standardInput, 0);
    ::dup2(spawn.standardOutput, 1);
    ::dup2(spawn.standardError, 2);
    if (reportWrite != reportFd)
        ::dup2(reportWrite, reportFd);
    ::fcntl(reportFd, F_SETFD, FD_CLOEXEC);
    if (::syscall(SYS_close_range, reportFd + 1, ~0U, 0) != 0)
        for (int fd = reportFd + 1; fd < 65536; ++fd)
            ::close(fd);

    int execPipe[2];
    Report report;
    if (::pipe2(execPipe, O_CLOEXEC) != 0) {
        report = {-1, errno};
        writeAll(reportFd, &report, sizeof report);
        ::_exit(127);
    }
    const pid_t self = ::getpid();
    pid_t command = ::fork();
    if (command == 0) {
        ::setsid(); // its own session and group, with no controlling terminal
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != self)
            ::_exit(127); // the guard is already gone
        ::close(reportFd);
        int error = 0;
        if (spawn.directory && ::chdir(spawn.directory) != 0) {
            error = errno;
        } else {
            sigset_t none;
            ::sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::execve(spawn.path, spawn.argv, spawn.envp);
            error = errno;
        }
        writeAll(execPipe[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(execPipe[1]);
    int launchError = command < 0 ? errno : 0;
    if (command > 0) {
        int error = 0;
        if (readAll(execPipe[0], &error, sizeof error) == sizeof error)
            launchError = error;
    }
    ::close(execPipe[0]);
    // The guard keeps nothing of the command's streams, so their ends are the command's.
    int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int fd = 0; fd <= 2; ++fd)
        ::dup2(null, fd);
    ::close(null);
    report = launchError ? Report{-1, launchError} : Report{command, 0};
    writeAll(reportFd, &report, sizeof report);
    if (launchError) {
        if (command > 0)
            while (::waitpid(command, nullptr, 0) < 0 && errno == EINTR) {
            }
        ::_exit(127);
    }

    sigset_t wanted;
    ::sigemptyset(&wanted);
    for (int signal : {SIGCHLD, SIGTERM, SIGINT, SIGHUP, ProcessGuard::killSignal})
        ::sigaddset(&wanted, signal);
    int status = 0;
    bool commandEnded = false, killAll = parentGone;
    auto wait = [&](long milliseconds) {
        timespec timeout{0, milliseconds * 1000000};
        int signal = ::sigtimedwait(&wanted, nullptr, &timeout);
        if (signal == SIGTERM || signal == SIGINT) {
            if (!commandEnded && ::kill(-command, SIGTERM) != 0)
                ::kill(command, SIGTERM);
        } else if (signal == SIGHUP || signal == ProcessGuard::killSignal) {
            killAll = true;
        }
        if (::getppid() != parent)
            killAll = true;
    };
    while (!commandEnded && !killAll) {
        wait(200);
        reapEnded(command, status, commandEnded);
    }

    // What the command left behind: asked to end, then killed after the grace.
    bool anyLeft = true;
    if (!killAll && signalChildren(self, SIGTERM) > 0) {
        const std::int64_t graceEnd =
            monotonicMilliseconds() + static_cast<std::int64_t>(spawn.leftoverGrace * 1000);
        while (!killAll && (anyLeft = reapEnded(command, status, commandEnded)) &&
               monotonicMilliseconds() < graceEnd)
            wait(20);
    }
    if (!commandEnded && ::kill(-command, SIGKILL) != 0)
        ::kill(command, SIGKILL);
    while (anyLeft) {
        signalChildren(self, SIGKILL);
        int childStatus = 0;
        pid_t pid = ::waitpid(-1, &childStatus, __WALL);
        if (pid == command) {
            status = childStatus;
            commandEnded = true;
        } else if (pid < 0 && errno == ECHILD) {
            anyLeft = false;
        }
    }
    report = {1, status};
    writeAll(reportFd, &report, sizeof report);
    ::_exit(0);
}

} // namespace

int ProcessGuard::start(const Spawn& spawn) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return errno;
    // The write end must not land on 0–3, where the guard puts the command's streams.
    int reportWrite = pipeFds[1];
    if (reportWrite <= reportFd) {
        reportWrite = ::fcntl(pipeFds[1], F_DUPFD_CLOEXEC, reportFd + 1);
        int error = errno;
        ::close(pipeFds[1]);
        if (reportWrite < 0) {
            ::close(pipeFds[0]);
            return error;
        }
    }
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid == 0)
        runGuard(spawn, parent, reportWrite);
    int forkError = errno;
    ::close(reportWrite);
    if (pid < 0) {
        ::close(pipeFds[0]);
        return forkError;
    }
    guard_ = pid;
    report_ = pipeFds[0];
    Report report;
    if (readAll(report_, &report, sizeof report) != sizeof report)
        report = {-1, ECHILD}; // the guard died before it could start anything
    if (report.first > 0) {
        command_ = report.first;
        return 0;
    }
    while (::waitpid(guard_, nullptr, 0) < 0 && errno == EINTR) {
    }
    guard_ = -1;
    return report.second != 0 ? report.second : ECHILD;
}

std::optional<int> ProcessGuard::commandStatus() const {
    Report report;
    int flags = ::fcntl(report_, F_GETFL);
    ::fcntl(report_, F_SETFL, flags | O_NONBLOCK);
    if (readAll(report_, &report, sizeof report) != sizeof report || report.first != 1)
        return std::nullopt;
    return report.second;
}

ProcessGuard::~ProcessGuard() {
    if (report_ >= 0)
        ::close(report_);
}

} // namespace marrowbell
