#include "scheduler/SchedulerLock.h"

#include "base/Files.h"
#include "base/SupportDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <system_error>
#include <unistd.h>

namespace marrowbell {

namespace fs = std::filesystem;

// Open file description locks: released by the kernel when the holder exits, and
// testable from another process with F_OFD_GETLK. The holder writes its process id
// into the file so a refusal can name it.
static flock wholeFile(short type) {
    flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

SchedulerLock SchedulerLock::acquire(const fs::path& path) {
    files::createPrivateFolders(path.parent_path());
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "cannot open " + path.string());
    flock lock = wholeFile(F_WRLCK);
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        int error = errno;
        ::close(fd);
        if (error != EAGAIN && error != EACCES)
            throw std::system_error(error, std::generic_category(), "cannot lock " + path.string());
        auto pid = holder(path);
        throw SchedulerLockError(
            "Another Marrowbell scheduler is already running" +
            (pid && *pid > 0 ? " (process " + std::to_string(*pid) + ")" : std::string()) +
            ". Only one may run jobs at a time; stop it first or let it run them.");
    }
    std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0)
        (void)!::pwrite(fd, pid.data(), pid.size(), 0);
    return SchedulerLock(fd);
}

fs::path SchedulerLock::defaultPath() {
    return SupportDirectory::file("scheduler.lock");
}

std::optional<pid_t> SchedulerLock::holder(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    flock lock = wholeFile(F_WRLCK);
    int result = ::fcntl(fd, F_OFD_GETLK, &lock);
    if (result != 0 || lock.l_type == F_UNLCK) {
        ::close(fd);
        return std::nullopt;
    }
    char text[32] = {};
    ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    ::close(fd);
    long pid = n > 0 ? std::strtol(text, nullptr, 10) : 0;
    return pid > 0 ? static_cast<pid_t>(pid) : -1;
}

SchedulerLock::SchedulerLock(SchedulerLock&& other) noexcept
    : fd_(other.fd_) {
    other.fd_ = -1;
}

SchedulerLock::~SchedulerLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace marrowbell
