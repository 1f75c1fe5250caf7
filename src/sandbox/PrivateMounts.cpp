#include "sandbox/PrivateMounts.h"

#include "sandbox/LaunchError.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

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

bool isUnreachable(int error) {
    // EACCES: the tool runs with these same ids, so it cannot reach it either.
    return error == ENOENT || error == ENOTDIR || error == EACCES;
}

// Makes the mount at `target` read-only. A user namespace may not clear the flags its
// parent set, so they are named again.
void remountReadOnly(const std::string& target) {
    struct statvfs status {};
    if (::statvfs(target.c_str(), &status) != 0)
        throw LaunchError::system("cannot inspect " + target, errno);
    static constexpr std::pair<unsigned long, unsigned long> kept[] = {
        {ST_NOSUID, MS_NOSUID},   {ST_NODEV, MS_NODEV},           {ST_NOEXEC, MS_NOEXEC},
        {ST_NOATIME, MS_NOATIME}, {ST_NODIRATIME, MS_NODIRATIME}, {ST_RELATIME, MS_RELATIME}};
    unsigned long flags = MS_BIND | MS_REMOUNT | MS_RDONLY;
    for (auto [statusFlag, mountFlag] : kept)
        if (status.f_flag & statusFlag)
            flags |= mountFlag;
    if (::mount(nullptr, target.c_str(), nullptr, flags, nullptr) != 0)
        throw LaunchError::system("cannot make " + target + " read-only", errno);
}

// Puts an empty read-only file in the place of `path` (a file or a socket).
void coverFile(const std::string& path) {
    if (::mount("/dev/null", path.c_str(), nullptr, MS_BIND, nullptr) != 0)
        throw LaunchError::system("cannot hide " + path, errno);
    remountReadOnly(path);
}

void coverUnreadable(const std::vector<std::string>& unreadable) {
    std::vector<std::string> covered;
    for (const auto& path : unreadable) {
        if (std::any_of(covered.begin(), covered.end(),
                        [&](const auto& folder) { return isInside(path, folder); }))
            continue;
        struct stat status {};
        if (::stat(path.c_str(), &status) != 0) {
            // Missing, or reached through a link into a folder covered already.
            if (isUnreachable(errno))
                continue;
            throw LaunchError::system("cannot inspect " + path, errno);
        }
        if (!S_ISDIR(status.st_mode)) {
            coverFile(path);
        } else if (::mount("tmpfs", path.c_str(), "tmpfs",
                           MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC,
                           "mode=0755,size=4k") != 0) {
            throw LaunchError::system("cannot hide " + path, errno);
        }
        covered.push_back(path);
    }
}

// Creates the folders between `root` (exclusive) and `path` (inclusive).
void createFoldersBetween(const std::string& root, const std::string& path) {
    std::size_t at = root.size();
    while (at != std::string::npos) {
        at = path.find('/', at + 1);
        std::string folder = path.substr(0, at);
        if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
            throw LaunchError::system("cannot create " + folder, errno);
    }
}

void makeTemporaryFoldersPrivate(const std::vector<std::string>& temporaryFolders,
                                 const std::vector<std::string>& writable,
                                 const std::string& workingFolder) {
    auto isTemporary = [&](const std::string& path) {
        return std::find(temporaryFolders.begin(), temporaryFolders.end(), path) !=
               temporaryFolders.end();
    };
    std::vector<std::string> done;
    for (const auto& folder : temporaryFolders) {
        char real[PATH_MAX];
        if (!::realpath(folder.c_str(), real)) {
            if (errno == ENOENT || errno == ENOTDIR)
                continue;
            throw LaunchError::system("cannot inspect " + folder, errno);
        }
        const std::string target = real;
        if (std::find(done.begin(), done.end(), target) != done.end())
            continue;
        done.push_back(target);

        // The job's folders inside it keep the access their level gives them; held open
        // across the mount, which hides them from their paths.
        std::vector<std::string> keptPaths;
        if (!workingFolder.empty() && isInside(workingFolder, target))
            keptPaths.push_back(workingFolder);
        for (const auto& path : writable)
            if (isInside(path, target) && !isTemporary(path))
                keptPaths.push_back(path);
        std::sort(keptPaths.begin(), keptPaths.end());
        keptPaths.erase(std::unique(keptPaths.begin(), keptPaths.end()), keptPaths.end());
        std::vector<std::pair<std::string, int>> kept;
        for (const auto& path : keptPaths) {
            int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (fd >= 0)
                kept.emplace_back(path, fd);
            else if (!isUnreachable(errno))
                throw LaunchError::system("cannot open " + path, errno);
        }

        if (::mount("tmpfs", target.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0)
            throw LaunchError::system("cannot give the run its own " + target, errno);
        for (const auto& [path, fd] : kept) {
            createFoldersBetween(target, path);
            std::string source = "/proc/self/fd/" + std::to_string(fd);
            if (::mount(source.c_str(), path.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
                throw LaunchError::system("cannot keep " + path, errno);
            ::close(fd);
            bool writableHere = std::any_of(writable.begin(), writable.end(), [&](const auto& w) {
                return !isTemporary(w) && isInside(path, w);
            });
            if (!writableHere)
                remountReadOnly(path);
        }
    }
}

// Covers every socket beneath `folder`. Folders this process cannot list are passed
// over: the tool, with the same ids and fewer rights, cannot list them either.
void coverSocketsBeneath(const std::string& folder) {
    DIR* directory = ::opendir(folder.c_str());
    if (!directory) {
        if (isUnreachable(errno))
            return;
        throw LaunchError::system("cannot list " + folder, errno);
    }
    std::vector<std::string> sockets, folders;
    while (const dirent* entry = ::readdir(directory)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = (folder == "/" ? "" : folder) + "/" + name;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat status {};
            if (::lstat(path.c_str(), &status) != 0)
                continue;
            type = S_ISSOCK(status.st_mode) ? DT_SOCK : S_ISDIR(status.st_mode) ? DT_DIR : DT_REG;
        }
        if (type == DT_SOCK)
            sockets.push_back(std::move(path));
        else if (type == DT_DIR)
            folders.push_back(std::move(path));
    }
    ::closedir(directory);
    for (const auto& socket : sockets)
        coverFile(socket);
    for (const auto& inner : folders)
        coverSocketsBeneath(inner);
}

} // namespace

void confineMounts(const std::vector<std::string>& unreadable,
                   const std::vector<std::string>& writable,
                   const std::vector<std::string>& temporaryFolders) {
    char cwd[PATH_MAX];
    bool hasCwd = ::getcwd(cwd, sizeof cwd) != nullptr;
    enterPrivateMountNamespace();
    coverUnreadable(unreadable);
    makeTemporaryFoldersPrivate(temporaryFolders, writable, hasCwd ? cwd : "");
    coverSocketsBeneath("/run");

    // The working folder is still reached through the mounts it had; entering it again
    // goes through the coverings and the private temporary folders.
    if (hasCwd && ::chdir(cwd) != 0)
        throw LaunchError::system(std::string("cannot enter the working folder ") + cwd, errno);
}

} // namespace marrowbell::sandbox
