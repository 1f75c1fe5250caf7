#include "sandbox/Landlock.h"

#include "sandbox/LaunchError.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Debian 12's kernel headers describe Landlock ABI 2; newer rights are used only when
// the running kernel reports an ABI that has them.
#ifndef LANDLOCK_ACCESS_FS_REFER
#define LANDLOCK_ACCESS_FS_REFER (1ULL << 13)
#endif
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif
#ifndef SYS_landlock_create_ruleset
#define SYS_landlock_create_ruleset 444
#define SYS_landlock_add_rule 445
#define SYS_landlock_restrict_self 446
#endif
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15)
#endif
#ifndef LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET
#define LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET (1ULL << 0)
#define LANDLOCK_SCOPE_SIGNAL (1ULL << 1)
#endif

namespace marrowbell::sandbox {

namespace {

// Every right that changes the file system. Reading and executing stay unhandled:
// reads are withheld by covering folders, never by an allow-list.
std::uint64_t writeRights(int abi) {
    std::uint64_t rights = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR |
                           LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_CHAR |
                           LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
                           LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO |
                           LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
    if (abi >= 2)
        rights |= LANDLOCK_ACCESS_FS_REFER; // renames and links between folders
    if (abi >= 3)
        rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
    // No ioctl on a device opened inside: TIOCSTI on a terminal would type commands
    // into the user's shell. Devices the tool inherited open are not affected.
    if (abi >= 5)
        rights |= LANDLOCK_ACCESS_FS_IOCTL_DEV;
    return rights;
}

// The ruleset attributes of the newest ABI used here; an older kernel accepts the
// larger structure as long as the fields it does not know are zero.
struct RulesetAttributes {
    std::uint64_t handledAccessFs = 0;
    std::uint64_t handledAccessNet = 0; // the network stays open
    std::uint64_t scoped = 0;
};

// The rights a rule on a single file may carry.
constexpr std::uint64_t fileRights = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_TRUNCATE;

class Descriptor {
public:
    explicit Descriptor(int fd)
        : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool isUnreachable(int error) {
    return error == ENOENT || error == ENOTDIR || error == EACCES || error == ELOOP;
}

// An O_PATH descriptor of `path`, creating it as a folder when `createFolder` and only
// its last component is missing; -1 when it cannot be reached (then no rule is needed:
// the tool cannot reach it either).
int openForRule(const std::string& path, bool createFolder) {
    int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && createFolder) {
        if (::mkdir(path.c_str(), 0700) == 0)
            fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
        else
            errno = ENOENT; // not creatable here: leave it out like any missing folder
    }
    if (fd < 0 && !isUnreachable(errno))
        throw LaunchError::system("cannot open " + path, errno);
    return fd;
}

void addRule(int ruleset, int fd, std::uint64_t rights, const std::string& path) {
    landlock_path_beneath_attr rule{};
    rule.allowed_access = rights;
    rule.parent_fd = fd;
    if (::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) == 0)
        return;
    // Pipes and sockets (a standard stream that is one) lie outside every file
    // system Landlock governs, so writing to them needs no rule.
    if (errno == EBADFD)
        return;
    throw LaunchError::system("cannot allow writing " + path, errno);
}

} // namespace

int landlockAbi() {
    long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi >= 1)
        return static_cast<int>(abi);
    if (errno == ENOSYS)
        throw LaunchError("this kernel has no Landlock, so the run cannot be confined");
    if (errno == EOPNOTSUPP)
        throw LaunchError("Landlock is disabled in this kernel (it must be listed in the lsm= "
                          "boot parameter), so the run cannot be confined");
    throw LaunchError::system("cannot query Landlock", errno);
}

void restrictSelf(int abi, const std::vector<std::string>& writableFolders,
                  const std::vector<std::string>& writableFiles) {
    const std::uint64_t handled = writeRights(abi);
    RulesetAttributes attributes;
    attributes.handledAccessFs = handled;
    // Abstract sockets (X11, some session buses) and processes outside the sandbox,
    // including the user's shell and the scheduler, are out of reach.
    if (abi >= 6)
        attributes.scoped = LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET | LANDLOCK_SCOPE_SIGNAL;
    Descriptor ruleset(static_cast<int>(
        ::syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0)));
    if (ruleset.get() < 0)
        throw LaunchError::system("cannot create the write restriction", errno);

    for (const auto& path : writableFolders) {
        Descriptor target(openForRule(path, true));
        if (target.get() < 0)
            continue;
        struct stat status {};
        if (::fstat(target.get(), &status) != 0)
            throw LaunchError::system("cannot inspect " + path, errno);
        addRule(ruleset.get(), target.get(),
                S_ISDIR(status.st_mode) ? handled : (handled & fileRights), path);
    }
    for (const auto& path : writableFiles) {
        Descriptor target(openForRule(path, false));
        struct stat status {};
        if (target.get() < 0 || ::fstat(target.get(), &status) != 0 || S_ISDIR(status.st_mode))
            continue; // a literal names one file, never a folder
        addRule(ruleset.get(), target.get(), handled & fileRights, path);
    }

    // Required of an unprivileged caller, and keeps set-user-id programs from
    // regaining what the restriction takes.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        throw LaunchError::system("cannot forbid gaining privileges", errno);
    if (::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) != 0)
        throw LaunchError::system("cannot apply the write restriction", errno);
}

void dropAllCapabilities() {
    // The bounding set first: emptied, root gains nothing when it runs the tool.
    for (int capability = 0; capability < 64; ++capability)
        if (::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0) {
            if (errno == EINVAL)
                break; // past the last capability this kernel knows
            throw LaunchError::system("cannot drop privileges", errno);
        }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capset, &header, data) != 0 ||
        ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0)
        throw LaunchError::system("cannot drop privileges", errno);
}

} // namespace marrowbell::sandbox
