#include "base/FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace marrowbell {

std::filesystem::path FileLock::lockFileFor(const std::filesystem::path& file) {
    return file.string() + ".lock";
}

FileLock::FileLock(const std::filesystem::path& file) {
    const std::string path = lockFileFor(file).string();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ < 0)
        throw std::system_error(errno, std::generic_category(), "cannot open " + path);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    while (::fcntl(fd_, F_OFD_SETLKW, &whole) != 0) {
        if (errno == EINTR)
            continue;
        int error = errno;
        ::close(fd_);
        throw std::system_error(error, std::generic_category(), "cannot lock " + path);
    }
}

FileLock::~FileLock() {
    ::close(fd_); // releases the lock
}

} // namespace marrowbell
