#include "sandbox/PrivateMounts.h"

#include "sandbox/LaunchError.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowbell::sandbox {

namespace {

void writeProcFile(const char* path, const std::string& content) {
    int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        throw LaunchError::system(std::string("cannot open ") + path, errno);
    ssize_t written = ::write(fd, content.data(), content.size());
    int error = errno;
    ::close(fd);
    if (written != static_cast<ssize_t>(content.size()))
        throw LaunchError::system(std::string("cannot write ") + path, error);
}

// A mount namespace of our own, whose mounts do not propagate back to the system.
void enterPrivateMountNamespace() {
    if (::unshare(CLONE_NEWNS) != 0) {
        if (errno != EPERM)
            throw LaunchError::system("cannot enter a private mount namespace", errno);
        // Unprivileged: a user namespace grants the right to mount inside it. The user
        // keeps its own ids there, so files keep their owners and tools that refuse to
        // run as root still run.
        uid_t uid = ::geteuid();
        gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            throw LaunchError::system(
                "cannot enter a private mount namespace (user namespaces may be disabled)", errno);
        writeProcFile("/proc/self/setgroups", "deny");
        writeProcFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1");
        writeProcFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        throw LaunchError::system("cannot make the mounts private", errno);
}

bool isInside(const std::string& path, const std::string& folder) {
    return path == folder || path.starts_with(folder.ends_with('/') ? folder : folder + "/");
}

} // namespace

void coverUnreadable(const std::vector<std::string>& unreadable) {
    std::vector<std::string> existing;
    for (const auto& path : unreadable) {
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0)
            existing.push_back(path);
        else if (errno != ENOENT && errno != ENOTDIR && errno != EACCES)
            throw LaunchError::system("cannot inspect " + path, errno);
        // EACCES: the tool runs with these same ids, so it cannot reach it either.
    }
    if (existing.empty())
        return;

    char cwd[PATH_MAX];
    bool hasCwd = ::getcwd(cwd, sizeof cwd) != nullptr;
    enterPrivateMountNamespace();

    std::vector<std::string> covered;
    for (const auto& path : existing) {
        bool alreadyHidden = false;
        for (const auto& folder : covered)
            alreadyHidden = alreadyHidden || isInside(path, folder);
        if (alreadyHidden)
            continue;
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0) {
            if (errno == ENOENT || errno == ENOTDIR)
                continue; // reached through a link into a folder covered already
            throw LaunchError::system("cannot inspect " + path, errno);
        }
        int result =
            S_ISDIR(status.st_mode)
                ? ::mount("tmpfs", path.c_str(), "tmpfs",
                          MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC, "mode=0755,size=4k")
                // A file in a folder's place is replaced by an empty one.
                : ::mount("/dev/null", path.c_str(), nullptr, MS_BIND, nullptr);
        if (result != 0)
            throw LaunchError::system("cannot hide " + path, errno);
        covered.push_back(path);
    }

    // A working folder inside a covered one would still show the old content through
    // relative paths; entering it again goes through the covering.
    if (hasCwd && ::chdir(cwd) != 0)
        throw LaunchError::system(std::string("cannot enter the working folder ") + cwd, errno);
}

} // namespace marrowbell::sandbox
