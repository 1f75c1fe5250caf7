#include "base/Files.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace marrowbell::files {

namespace fs = std::filesystem;

static std::system_error lastError(const std::string& what) {
    return std::system_error(errno, std::generic_category(), what);
}

namespace {
// Closes the descriptor and removes the temporary file unless released.
struct TemporaryFile {
    int fd = -1;
    std::string path;
    ~TemporaryFile() {
        if (fd >= 0)
            ::close(fd);
        if (!path.empty())
            ::unlink(path.c_str());
    }
};
} // namespace

// Replaces the trailing "XXXXXX" with random letters and digits.
static void fillRandomSuffix(std::string& name) {
    static constexpr char alphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char noise[6] = {};
    if (::getrandom(noise, sizeof noise, 0) != static_cast<ssize_t>(sizeof noise))
        throw lastError("no random bytes for a file name");
    for (std::size_t i = 0; i < 6; ++i)
        name[name.size() - 6 + i] = alphabet[noise[i] % (sizeof alphabet - 1)];
}

// Writes all of `bytes` to `fd`.
static void writeAll(int fd, std::string_view bytes, const std::string& what) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw lastError("cannot write " + what);
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
}

// The content is written into an unnamed file (O_TMPFILE), so a process killed while
// writing leaves nothing behind; only the final link-and-rename needs a name, for an
// instant. Filesystems without O_TMPFILE get a named temporary file throughout.
void createPrivateFolders(const fs::path& folder) {
    if (folder.empty())
        return;
    std::error_code error;
    if (fs::is_directory(folder, error))
        return;
    if (folder.has_parent_path() && folder.parent_path() != folder)
        createPrivateFolders(folder.parent_path());
    if (::mkdir(folder.c_str(), 0700) == 0)
        return;
    int failure = errno;
    if (failure == EEXIST) {
        if (fs::is_directory(folder, error))
            return; // made by another process meanwhile
        failure = ENOTDIR;
    }
    throw fs::filesystem_error("cannot create folder", folder,
                               std::error_code(failure, std::generic_category()));
}

void writeAtomically(const fs::path& path, std::string_view bytes, mode_t mode) {
    fs::path folder = path.parent_path();
    if (folder.empty())
        folder = ".";
    TemporaryFile temp;
    std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    temp.fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    bool unnamed = temp.fd >= 0;
    if (!unnamed) {
        // mkostemp creates the file 0600, so it is never readable by others before
        // the chosen mode is set.
        temp.path = pattern;
        temp.fd = ::mkostemp(temp.path.data(), O_CLOEXEC);
        if (temp.fd < 0) {
            temp.path.clear();
            throw lastError("cannot create a file in " + folder.string());
        }
    }
    if (::fchmod(temp.fd, mode) != 0)
        throw lastError("cannot set the mode of a new file in " + folder.string());
    writeAll(temp.fd, bytes, path.string());
    if (::fsync(temp.fd) != 0)
        throw lastError("cannot sync " + path.string());
    if (unnamed) {
        std::string procPath = "/proc/self/fd/" + std::to_string(temp.fd);
        for (int attempt = 0;; ++attempt) {
            temp.path = pattern;
            fillRandomSuffix(temp.path);
            if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, temp.path.c_str(),
                         AT_SYMLINK_FOLLOW) == 0)
                break;
            int error = errno;
            temp.path.clear();
            if (error != EEXIST || attempt == 16)
                throw std::system_error(error, std::generic_category(),
                                        "cannot create a file in " + folder.string());
        }
    }
    if (::rename(temp.path.c_str(), path.c_str()) != 0)
        throw lastError("cannot replace " + path.string());
    temp.path.clear();
    // Make the rename itself durable; a failure here loses nothing already written.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

Content readBounded(const fs::path& path, std::size_t maxBytes) {
    Content content;
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return content;
        content.state = Content::State::failed;
        content.error = std::error_code(errno, std::generic_category());
        return content;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        content.state = Content::State::failed;
        content.error = std::error_code(errno, std::generic_category());
    } else if (!S_ISREG(info.st_mode)) {
        content.state = Content::State::notRegular;
    } else if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
        content.state = Content::State::tooLarge;
    } else {
        content.state = Content::State::read;
        content.bytes.reserve(static_cast<std::size_t>(info.st_size));
        char buffer[65536];
        for (;;) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                content.state = Content::State::failed;
                content.error = std::error_code(errno, std::generic_category());
                break;
            }
            if (n == 0)
                break;
            if (content.bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
                content.state = Content::State::tooLarge;
                break;
            }
            content.bytes.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    if (content.state != Content::State::read)
        content.bytes.clear();
    return content;
}

std::optional<std::string> read(const fs::path& path) {
    Content content = readBounded(path, std::size_t(64) << 20);
    if (content.state != Content::State::read)
        return std::nullopt;
    return std::move(content.bytes);
}

const fs::path& executableDirectory() {
    static const fs::path directory = [] {
        std::error_code error;
        fs::path exe = fs::read_symlink("/proc/self/exe", error);
        return error ? fs::current_path() : exe.parent_path();
    }();
    return directory;
}

fs::path resource(std::string_view name) {
    return executableDirectory().parent_path() / "share" / "marrowbell" / fs::path(name);
}

} // namespace marrowbell::files
