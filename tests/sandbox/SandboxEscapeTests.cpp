#include "SandboxFixture.h"

#include "base/Files.h"

#include <gtest/gtest.h>

using namespace marrowbell;
using namespace marrowbell::test;
namespace fs = std::filesystem;

namespace {

struct Escape {
    const char* name;
    const char* script;
    int minimumAbi = 1; // the Landlock ABI that enforces it
};

// Each attempt tries to change the outside folder, take the workspace's file out of it
// or read the denied folder's key.
const Escape escapes[] = {
    {"SymlinkInWorkspace", R"sh(
        ln -s "$O/existing" "$W/link"; echo changed > "$W/link"
        ln -s "$O" "$W/dir-link"; echo new > "$W/dir-link/new")sh"},
    {"HardLinkIn", R"sh(ln "$O/existing" "$W/hard"; echo changed >> "$W/hard")sh"},
    {"HardLinkOut", R"sh(ln "$W/file" "$O/hard")sh"},
    {"RenameOut", R"sh(mv "$W/file" "$O/moved"; mv "$W" "$O/work")sh"},
    {"RenameOutsideIn", R"sh(mv "$O/existing" "$W/stolen")sh"},
    {"ProcSelfFd", R"sh(exec 3<"$O/existing"; echo changed > /proc/self/fd/3)sh"},
    {"DevFd", R"sh(exec 3<"$O/existing"; echo changed >> /dev/fd/3)sh"},
    {"ParentRoot",
     R"sh(cat "/proc/$PPID/root$H/.mozilla/key"; echo x > "/proc/$PPID/root$O/new")sh"},
    {"SpecialFiles", R"sh(
        mkdir "$O/dir"; mkfifo "$O/fifo"; ln -s x "$O/symlink"; mknod "$O/null" c 1 3
        /usr/bin/python3 -c 'import socket,sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$O/socket")sh"},
    {"Truncate", R"sh(truncate -s 0 "$O/existing")sh", 3},
    {"Unmount", R"sh(umount "$H/.mozilla"; umount -l "$H/.mozilla"; cat "$H/.mozilla/key")sh"},
    {"NewMountNamespace", R"sh(
        unshare -m sh -c 'umount "$1/.mozilla"; cat "$1/.mozilla/key"' - "$H"
        unshare -Urm sh -c 'umount "$1/.mozilla"; cat "$1/.mozilla/key"' - "$H"
        unshare -Ucm sh -c 'mount --bind "$1" "$2"; echo x > "$2/new"' - "$W" "$O")sh"},
    // A copy of the home folder's mount without the covering mounted on it.
    {"DetachedMountTree", R"sh(
        /usr/bin/python3 - "$H" <<'EOF'
import ctypes, sys
libc = ctypes.CDLL(None, use_errno=True)
for new_namespace in (False, True):
    if new_namespace:
        libc.unshare(0x10000000 | 0x00020000)  # CLONE_NEWUSER | CLONE_NEWNS
    fd = libc.syscall(428, -100, sys.argv[1].encode(), 1 | 0o2000000)  # open_tree, CLONE
    if fd >= 0:
        print(open("/proc/self/fd/%d/.mozilla/key" % fd).read())
EOF)sh"},
};

void PrintTo(const Escape& escape, std::ostream* out) {
    *out << escape.name;
}

class SandboxEscape : public SandboxFixture,
                      public ::testing::TestWithParam<std::tuple<Escape, Runner>> {
protected:
    void SetUp() override {
        if (auto reason = prepare(std::get<1>(GetParam())))
            GTEST_SKIP() << *reason;
        if (landlockAbiVersion() < std::get<0>(GetParam()).minimumAbi)
            GTEST_SKIP() << "this kernel's Landlock ABI " << landlockAbiVersion()
                         << " cannot enforce it";
    }
};

} // namespace

TEST_P(SandboxEscape, Fails) {
    auto result = launch(profileText(profile(true)), std::get<0>(GetParam()).script);
    EXPECT_EQ(outsideEntries(), std::vector<std::string>{"existing"}) << result.err;
    EXPECT_EQ(files::read(outside / "existing"), "original") << result.err;
    EXPECT_EQ(files::read(work / "file"), "work-file") << result.err;
    EXPECT_EQ((result.out + result.err).find("secret-key"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Attempts, SandboxEscape,
                         ::testing::Combine(::testing::ValuesIn(escapes),
                                            ::testing::Values(Runner::current,
                                                              Runner::unprivileged)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    runnerName(std::get<1>(info.param));
                         });
