#include "StopSignals.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>

namespace marrowbell::ctl {

static sigset_t stopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

StopSignals::StopSignals() {
    sigset_t set = stopSet();
    if (int error = ::pthread_sigmask(SIG_BLOCK, &set, nullptr))
        throw std::system_error(error, std::generic_category(), "cannot block stop signals");
    fd_ = ::signalfd(-1, &set, SFD_CLOEXEC);
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "cannot watch stop signals");
}

StopSignals::~StopSignals() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::optional<int> StopSignals::wait(std::optional<std::chrono::milliseconds> timeout) {
    pollfd watched{fd_, POLLIN, 0};
    int milliseconds = timeout ? static_cast<int>(timeout->count()) : -1;
    for (;;) {
        int ready = ::poll(&watched, 1, milliseconds);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        signalfd_siginfo info{};
        ssize_t n = ::read(fd_, &info, sizeof info);
        if (n == static_cast<ssize_t>(sizeof info))
            return static_cast<int>(info.ssi_signo);
        if (n < 0 && errno == EINTR)
            continue;
        return std::nullopt;
    }
}

} // namespace marrowbell::ctl
