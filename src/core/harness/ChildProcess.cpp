#include "harness/ChildProcess.h"

#include "base/ProcessLaunch.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace marrowbell {

namespace {

using Clock = std::chrono::steady_clock;

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Waits for `pid` until `deadline`; true when it was reaped.
bool reapBefore(pid_t pid, Clock::time_point deadline, int& wstatus) {
    while (true) {
        pid_t done = ::waitpid(pid, &wstatus, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

ChildProcess::Result ChildProcess::run() const {
    Result result;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return result;
    Fd readEnd{pipeFds[0]}, writeEnd{pipeFds[1]};

    const int capturedFd = captured == Stream::standardOutput ? STDOUT_FILENO : STDERR_FILENO;
    ProcessLaunch launch{executable, arguments, environment, workingDirectory, {-1, -1, -1}};
    launch.streams[capturedFd] = writeEnd.fd;
    const pid_t pid = launch.start();
    if (pid < 0)
        return result;
    result.started = true;
    ::close(writeEnd.fd);
    writeEnd.fd = -1;

    auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(timeout));
    std::string output;
    char buffer[65536];
    bool drained = false;
    while (!drained) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd entry{readEnd.fd, POLLIN, 0};
        int ready =
            ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count() + 1, 60000)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        ssize_t count = ::read(readEnd.fd, buffer, sizeof buffer);
        if (count > 0)
            output.append(buffer, static_cast<std::size_t>(count));
        else if (count == 0 || errno != EINTR)
            drained = true;
    }

    int wstatus = 0;
    // Past the deadline: SIGTERM to the group, SIGKILL 2 s later.
    auto stopped = [&] {
        result.timedOut = true;
        ::kill(-pid, SIGTERM);
        if (!reapBefore(pid, Clock::now() + std::chrono::seconds(2), wstatus)) {
            ::kill(-pid, SIGKILL);
            reapBefore(pid, Clock::time_point::max(), wstatus);
        }
        result.exitStatus = ProcessLaunch::exitStatus(wstatus);
        return result;
    };
    if (!drained)
        return stopped();
    // The stream is closed; the process itself normally ends at once. One that
    // closed its output but keeps running is held to the same deadline.
    if (!reapBefore(pid, deadline, wstatus))
        return stopped();
    result.exitStatus = ProcessLaunch::exitStatus(wstatus);
    result.output = std::move(output);
    return result;
}

} // namespace marrowbell
