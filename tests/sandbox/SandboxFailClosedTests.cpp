#include "SandboxFixture.h"

#include "base/Files.h"

#include <cstddef>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/wait.h>

using namespace marrowbell;
using namespace marrowbell::test;

namespace {

// These run whether or not the kernel has Landlock: refusing is what matters.
class SandboxFailClosed : public ::testing::Test {
protected:
    TempDir root;
    fs::path marker = root / "tool-ran";
    fs::path tool = root / "tool.sh";
    std::string launcher = builtBinary("marrowbell-sandbox").string();
    std::string validProfile = SandboxPolicy{{root.path().string()}, {}, {}, {}}.text();

    void SetUp() override { writeFile(tool, "#!/bin/sh\ntouch '" + marker.string() + "'\n", true); }

    void expectRefused(std::vector<std::string> arguments, const std::string& line) {
        arguments.insert(arguments.begin(), launcher);
        ProcessResult result = runProcess(arguments);
        EXPECT_EQ(result.exitStatus, 71);
        EXPECT_EQ(result.err, "marrowbell-sandbox: " + line + "\n");
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(fs::exists(marker));
    }
};

} // namespace

TEST_F(SandboxFailClosed, ArgumentsThatCannotBeUsedNeverRunTheTool) {
    expectRefused({"-p", "(version 1)\n(allow default)\n(deny network*)", tool.string()},
                  "the profile does not parse: line 3: the profile must begin with (deny "
                  "file-write*)");
    expectRefused({"-p", validProfile}, "usage: marrowbell-sandbox -p PROFILE TOOL [ARG…]");
    expectRefused({"-x", validProfile, tool.string()},
                  "usage: marrowbell-sandbox -p PROFILE TOOL [ARG…]");
}

TEST_F(SandboxFailClosed, ToolOrFolderThatCannotBeUsedRefusesTheRun) {
    if (auto reason = landlockMissing())
        GTEST_SKIP() << *reason;
    std::string missing = (root / "absent").string();
    expectRefused({"-p", validProfile, missing},
                  "cannot run " + missing + ": No such file or directory");
    fs::create_symlink(root / "loop", root / "loop");
    SandboxPolicy policy{{root.path().string()}, {(root / "loop").string()}, {}, {}};
    expectRefused({"-p", policy.text(), tool.string()}, "cannot inspect " +
                                                            (root / "loop").string() +
                                                            ": Too many levels of symbolic links");
}

// A kernel without Landlock is simulated by a seccomp filter answering ENOSYS, so the
// refusal is checked on every machine; without Landlock it is simply the real case.
TEST_F(SandboxFailClosed, KernelWithoutLandlockNeverRunsTheTool) {
    fs::path errors = root / "stderr";
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::dup2(::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_landlock_create_ruleset, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            ::_exit(99);
        const char* argv[] = {launcher.c_str(), "-p", validProfile.c_str(), tool.c_str(), nullptr};
        ::execv(argv[0], const_cast<char**>(argv));
        ::_exit(98);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 71 << 8) << "exit status 71";
    EXPECT_EQ(files::read(errors),
              "marrowbell-sandbox: this kernel has no Landlock, so the run cannot be confined\n");
    EXPECT_FALSE(fs::exists(marker));
}
