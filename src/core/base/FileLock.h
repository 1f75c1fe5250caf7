#pragma once

#include <filesystem>

namespace marrowbell {

// An exclusive advisory lock on a file, shared by every process and thread that locks
// the same file this way, held from construction to destruction. The lock is an
// open-file-description lock on the sibling "{file}.lock" (created 0600 and left in
// place), so it belongs to this object alone: two objects in one process exclude each
// other as two processes do, and the lock dies with the process.
class FileLock {
public:
    // Waits for the lock. Throws std::system_error when the lock file cannot be opened
    // or locked.
    explicit FileLock(const std::filesystem::path& file);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    static std::filesystem::path lockFileFor(const std::filesystem::path& file);

private:
    int fd_ = -1;
};

} // namespace marrowbell
