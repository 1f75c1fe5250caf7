#include "harness/ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

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

int statusOf(int wstatus) {
    if (WIFEXITED(wstatus))
        return WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus))
        return 128 + WTERMSIG(wstatus);
    return -1;
}

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

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int capturedFd = captured == Stream::standardOutput ? STDOUT_FILENO : STDERR_FILENO;
    int otherFd = captured == Stream::standardOutput ? STDERR_FILENO : STDOUT_FILENO;
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.fd, capturedFd);
    posix_spawn_file_actions_addopen(&actions, otherFd, "/dev/null", O_WRONLY, 0);
    if (workingDirectory)
        posix_spawn_file_actions_addchdir_np(&actions, workingDirectory->c_str());

    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own session, so a time-out ends whatever it started too, and without a
    // controlling terminal to reach the user's shell through.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> argvStrings{executable.string()};
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argvStrings)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    std::vector<std::string> envStrings;
    std::vector<char*> envp;
    if (environment) {
        for (const auto& [name, value] : *environment)
            envStrings.push_back(name + "=" + value);
        for (std::string& entry : envStrings)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
    }

    pid_t pid = -1;
    int spawned = ::posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv.data(),
                                environment ? envp.data() : environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
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
        result.exitStatus = statusOf(wstatus);
        return result;
    };
    if (!drained)
        return stopped();
    // The stream is closed; the process itself normally ends at once. One that
    // closed its output but keeps running is held to the same deadline.
    if (!reapBefore(pid, deadline, wstatus))
        return stopped();
    result.exitStatus = statusOf(wstatus);
    result.output = std::move(output);
    return result;
}

} // namespace marrowbell
