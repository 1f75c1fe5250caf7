#include "SandboxFixture.h"

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

using namespace marrowbell;
using namespace marrowbell::test;

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
        if (auto reason = prepare(std::get<1>(GetParam()), std::get<0>(GetParam()).minimumAbi))
            GTEST_SKIP() << *reason;
    }
};

} // namespace

TEST_P(SandboxEscape, Fails) {
    auto result = launch(profile(true), std::get<0>(GetParam()).script);
    EXPECT_EQ(damage(), "") << result.err;
    EXPECT_EQ((result.out + result.err).find("secret-key"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Attempts, SandboxEscape,
    ::testing::Combine(::testing::ValuesIn(escapes),
                       ::testing::Values(Runner::current, Runner::unprivileged)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + nameOf({std::get<1>(info.param), 0});
    });

// Routes out of the sandbox through what lies beside the file system: the terminal,
// other processes' sockets and signals, root's capabilities, the shared temporary
// folders and other tools' credentials. Each asserts that the effect outside did not
// happen.
namespace {

// A process started beside the tool, outside the sandbox, its output in a file; killed
// at the end.
struct Outsider {
    pid_t pid = -1;
    Outsider(std::vector<std::string> command, const fs::path& output = "/dev/null") {
        std::vector<char*> argv;
        for (auto& argument : command)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        if ((pid = ::fork()) == 0) {
            ::dup2(::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Outsider() {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
};

// "listen ADDRESS…": listens on each (a leading "@" names an abstract socket), prints
// "ready" and waits. "connect ADDRESS…": connects to each and says how it went.
const char* const sockets = R"py(
import os, socket, sys, time
def address(a): return "\0" + a[1:] if a.startswith("@") else a
held = []
for a in sys.argv[2:]:
    s = socket.socket(socket.AF_UNIX)
    try:
        if sys.argv[1] == "listen":
            s.bind(address(a)); s.listen(8); held.append(s)
            if not a.startswith("@"): os.chmod(a, 0o777)
        else:
            s.connect(address(a)); print("reached " + a)
    except OSError as error:
        print("refused %s: %s" % (a, error))
if held:
    print("ready", flush=True); time.sleep(600)
)py";

class SandboxRoute : public RunnerTest {};

#define REQUIRE_LANDLOCK_ABI(abi)                                                                  \
    if (landlockAbiVersion() < abi)                                                                \
    GTEST_SKIP() << "this kernel's Landlock ABI " << landlockAbiVersion() << " cannot stop it"

} // namespace

// From a shell that owns a terminal, as when the user starts a run from an interactive
// shell: after the tool exits, the shell reads one line typed on the terminal within a
// second and runs it.
TEST_P(SandboxRoute, TerminalInputCannotBeTypedIntoTheUsersShell) {
    REQUIRE_LANDLOCK_ABI(5);
    // A terminal of its own leads the shell's session, as an interactive shell's would.
    const char* const terminal = R"py(
import os, pty, sys
pid, master = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
try:
    while os.read(master, 4096): pass
except OSError: pass
sys.exit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
)py";
    std::string injected = "touch '" + (outside / "escaped").string() + "'\n";
    auto tool = command(profile(false), R"sh(/usr/bin/python3 -c '
import fcntl, sys, termios
terminal = open("/dev/tty", "rb", buffering=0)
for byte in sys.argv[1].encode():
    fcntl.ioctl(terminal, termios.TIOCSTI, bytes([byte]))
' ")sh" + injected + R"sh(")sh");
    std::vector<std::string> shell = runnerPrefix(runner);
    shell.insert(shell.end(), {"/usr/bin/python3", "-c", terminal, "/bin/bash", "-c",
                               R"sh("$@"; IFS= read -r -t 1 line && eval "$line")sh", "bash"});
    shell.insert(shell.end(), tool.begin(), tool.end());
    auto result = runProcess(shell, "", {"HOME=" + home.string(), "TMPDIR=" + tmp.string()});
    EXPECT_EQ(damage(), "") << result.err;
}

// Tmux's and agents' sockets under /tmp, the session bus's, a system service's and an
// abstract one: each reached from outside, none from inside.
TEST_P(SandboxRoute, OtherProcessesSocketsCannotBeReached) {
    REQUIRE_LANDLOCK_ABI(6);
    TempDir shared("/tmp");
    fs::permissions(shared.path(), fs::perms(0755));
    std::vector<std::string> addresses = {(shared / "tmux").string(), (run / "bus").string(),
                                          "@marrowbell-test-" + std::to_string(::getpid())};
    std::optional<TempDir> system;
    if (::geteuid() == 0 && ::access("/run", W_OK) == 0) {
        system.emplace("/run");
        fs::permissions(system->path(), fs::perms(0755));
        addresses.push_back((*system / "service.socket").string());
    }
    auto python = [&](const std::string& role) {
        std::vector<std::string> command = {"/usr/bin/python3", "-c", sockets, role};
        command.insert(command.end(), addresses.begin(), addresses.end());
        return command;
    };
    Outsider listener(python("listen"), root / "listening");
    ASSERT_TRUE(eventually([&] { return files::read(root / "listening") == "ready\n"; }));
    std::string quoted;
    for (const auto& argument : python("connect"))
        quoted += " '" + argument + "'";
    auto result = launch(profile(true), "exec" + quoted);
    EXPECT_EQ(result.out.find("reached"), std::string::npos) << result.out;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), std::ssize(addresses))
        << result.err;
    std::string reached;
    for (const auto& address : addresses)
        reached += "reached " + address + "\n";
    EXPECT_EQ(runProcess(python("connect")).out, reached);
}

TEST_P(SandboxRoute, OutsideProcessesCannotBeSignalled) {
    REQUIRE_LANDLOCK_ABI(6);
    auto sleeper = runnerPrefix(runner);
    sleeper.insert(sleeper.end(), {"/bin/sleep", "600"});
    Outsider victim(sleeper);
    auto result =
        launch(profile(true), "kill -TERM " + std::to_string(victim.pid) + " && echo signalled");
    EXPECT_EQ(result.out, "") << result.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(::waitpid(victim.pid, nullptr, WNOHANG), 0) << result.err;
}

TEST_P(SandboxRoute, RootKeepsNoCapability) {
    const std::string ip = "PATH=/usr/sbin:/sbin:$PATH ip ", address = "192.0.2.77/32 dev lo";
    auto result = launch(profile(true), "grep CapEff /proc/self/status\n" + ip + "addr add " +
                                            address + "\nchown 4242:4242 \"$W/file\"");
    auto shown = runProcess({"/bin/sh", "-c", ip + "-o addr show dev lo"});
    if (shown.out.find("192.0.2.77") != std::string::npos)
        runProcess({"/bin/sh", "-c", ip + "addr del " + address});
    EXPECT_NE(result.out.find("CapEff:\t0000000000000000"), std::string::npos) << result.out;
    EXPECT_EQ(shown.out.find("192.0.2.77"), std::string::npos) << shown.out;
    struct stat status {};
    ASSERT_EQ(::stat((work / "file").c_str(), &status), 0);
    EXPECT_NE(status.st_uid, 4242u) << result.err;
}

TEST_P(SandboxRoute, ReadOnlyJobUnderTmpKeepsItsFolderAndLeavesNothingBehind) {
    TempDir shared("/tmp");
    fs::permissions(shared.path(), fs::perms(0755));
    fs::path job = shared / "job";
    writeFile(job / "README", "readme");
    handOver(shared.path());
    tmp = shared.path(); // the user's TMPDIR holds the job
    std::string left = "marrowbell-left-" + std::to_string(::getpid());
    auto result = launch(profile(false, {}, job), R"sh(
        echo changed > README; echo planted > "$TMPDIR/planted"; echo planted > "$S/planted"
        for folder in /tmp /var/tmp /dev/shm; do echo left > "$folder/$LEFT"; done)sh",
                         {}, "", {"S=" + shared.path().string(), "LEFT=" + left}, job);
    EXPECT_EQ(files::read(job / "README"), "readme") << result.err;
    EXPECT_FALSE(fs::exists(shared / "planted"));
    for (const char* folder : {"/tmp", "/var/tmp", "/dev/shm"})
        EXPECT_FALSE(fs::exists(fs::path(folder) / left)) << folder;
}

TEST_P(SandboxRoute, KeysAndOtherToolsCredentialsCannotBeRead) {
    for (const char* file : {".ssh/id_ed25519", ".gnupg/private-keys-v1.d/key", ".aws/credentials",
                             ".azure/msal_token_cache.json", ".config/gcloud/credentials.db",
                             ".kube/config", ".docker/config.json", ".netrc", ".git-credentials",
                             ".password-store/mail.gpg", ".local/share/keyrings/login.keyring",
                             ".local/share/Marrowbell/secrets.json", ".claude/.credentials.json",
                             ".claude.json", ".codex/auth.json", ".local/share/opencode/auth.json"})
        writeFile(home / file, "secret-key");
    writeFile(home / ".pi/agent/auth.json", "own-login");
    handOver(home);
    auto result = launch(profile(false, {"~/.pi/agent"}), R"sh(
        cd "$H" && find . -type f -exec cat {} + 2>/dev/null; echo
        echo changed > "$H/.netrc")sh");
    EXPECT_EQ(result.out.find("secret-key"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("own-login"), std::string::npos) << result.out << result.err;
    EXPECT_EQ(files::read(home / ".netrc"), "secret-key");
}

INSTANTIATE_TEST_SUITE_P(Runners, SandboxRoute,
                         ::testing::Values(Runner::current, Runner::unprivileged), nameOf);
