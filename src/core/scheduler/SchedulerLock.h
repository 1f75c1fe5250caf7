#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <sys/types.h>

namespace marrowbell {

// Another scheduler of this user holds the lock; its text is the message shown.
struct SchedulerLockError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One scheduler per user: whoever runs jobs (the daemon, the desktop app) holds an
// exclusive lock on "scheduler.lock" in the support folder for as long as it runs,
// so jobs never run twice. The kernel drops the lock when the process ends, however
// it ends, so a crash never leaves a stale lock behind.
class SchedulerLock {
public:
    // Takes the lock at `path` (creating the file and its folder), or throws
    // SchedulerLockError when another process holds it, std::system_error when the
    // file cannot be opened.
    static SchedulerLock acquire(const std::filesystem::path& path);
    static std::filesystem::path defaultPath();

    // Whether a process holds the lock at `path`: its process id, -1 when it is held
    // but the id is unknown, none when nobody holds it.
    static std::optional<pid_t> holder(const std::filesystem::path& path);

    SchedulerLock(SchedulerLock&& other) noexcept;
    SchedulerLock& operator=(SchedulerLock&&) = delete;
    ~SchedulerLock();

private:
    explicit SchedulerLock(int fd)
        : fd_(fd) {}
    int fd_ = -1;
};

} // namespace marrowbell
