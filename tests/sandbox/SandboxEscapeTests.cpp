#include "SandboxFixture.h"

#include "base/Files.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

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

// Routes out of the sandbox through what lies beside the file system: the terminal,
// other processes' sockets and signals, root's capabilities, the shared temporary
// folders and other tools' credentials. Each asserts that the effect outside did not
// happen.
namespace {

// A process started beside the tool, outside the sandbox; killed at the end.
class Outsider {
public:
    explicit Outsider(const std::vector<std::string>& command) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (const auto& argument : command)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        int error = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        output_ = fds[0];
        if (error != 0)
            throw std::runtime_error("cannot start " + command[0]);
    }
    ~Outsider() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        ::close(output_);
    }
    Outsider(const Outsider&) = delete;
    Outsider& operator=(const Outsider&) = delete;

    pid_t pid() const { return pid_; }

    // The next line it wrote; empty when none came within a generous wait.
    std::string readLine() {
        std::string line;
        char c = 0;
        while (true) {
            pollfd ready{output_, POLLIN, 0};
            if (::poll(&ready, 1, 30000) <= 0 || ::read(output_, &c, 1) != 1 || c == '\n')
                return line;
            line += c;
        }
    }

    // True while it runs (neither gone nor a zombie).
    bool isRunning() const {
        int status = 0;
        return ::waitpid(pid_, &status, WNOHANG) == 0;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
};

// Listens on each pathname socket and one abstract name; prints "ready", then the
// first line each client sends.
const char* const socketServer = R"py(
import os, select, socket, sys
listeners = []
for path in sys.argv[1:-1]:
    s = socket.socket(socket.AF_UNIX)
    s.bind(path)
    os.chmod(path, 0o777)
    s.listen(8)
    listeners.append(s)
s = socket.socket(socket.AF_UNIX)
s.bind("\0" + sys.argv[-1])
s.listen(8)
listeners.append(s)
print("ready", flush=True)
while True:
    for s in select.select(listeners, [], [])[0]:
        client, _ = s.accept()
        client.settimeout(10)
        try:
            print(client.recv(64).decode().strip() or "silent", flush=True)
        except OSError:
            print("silent", flush=True)
        client.close()
)py";

// Connects to each address (a leading "@" names an abstract socket) and says $1.
const char* const socketClient = R"py(
import socket, sys
for address in sys.argv[2:]:
    try:
        s = socket.socket(socket.AF_UNIX)
        s.connect("\0" + address[1:] if address.startswith("@") else address)
        s.sendall((sys.argv[1] + "\n").encode())
        s.close()
        print("reached " + address)
    except OSError as error:
        print("refused %s: %s" % (address, error))
)py";

class SandboxRoute : public SandboxFixture, public ::testing::TestWithParam<Runner> {
protected:
    void SetUp() override {
        if (auto reason = prepare(GetParam()))
            GTEST_SKIP() << *reason;
    }

    void requireAbi(int abi) {
        if (landlockAbiVersion() < abi)
            GTEST_SKIP() << "this kernel's Landlock ABI " << landlockAbiVersion()
                         << " cannot stop it; it needs " << abi;
    }

    // The prefix that starts an outside process as the user the tool runs as.
    std::vector<std::string> asRunner(std::vector<std::string> command) const {
        if (GetParam() == Runner::unprivileged)
            command.insert(command.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                             "--clear-groups", "--"});
        return command;
    }
};

} // namespace

TEST_P(SandboxRoute, TerminalInputCannotBeTypedIntoTheUsersShell) {
    requireAbi(5);
    std::string injected = "touch '" + (outside / "escaped").string() + "'\n";
    auto result = launchFromTerminal(profileText(profile(false)), R"sh(
        /usr/bin/python3 -c '
import fcntl, sys, termios
terminal = open("/dev/tty", "rb", buffering=0)
for byte in sys.argv[1].encode():
    fcntl.ioctl(terminal, termios.TIOCSTI, bytes([byte]))
' ")sh" + injected + R"sh(")sh");
    EXPECT_EQ(outsideEntries(), std::vector<std::string>{"existing"}) << result.out << result.err;
}

TEST_P(SandboxRoute, OtherProcessesSocketsCannotBeReached) {
    requireAbi(6);
    TempDir shared("/tmp"); // where tmux and agents keep theirs
    fs::permissions(shared.path(), fs::perms(0755));
    std::vector<std::string> paths = {(shared / "tmux").string(), (run / "bus").string()};
    std::optional<TempDir> system;
    if (::geteuid() == 0 && ::access("/run", W_OK) == 0) {
        system.emplace("/run");
        fs::permissions(system->path(), fs::perms(0755));
        paths.push_back((*system / "service.socket").string());
    }
    std::string abstract = "marrowbell-test-" + std::to_string(::getpid());
    std::vector<std::string> server = {"/usr/bin/python3", "-c", socketServer};
    server.insert(server.end(), paths.begin(), paths.end());
    server.push_back(abstract);
    Outsider listener(server);
    ASSERT_EQ(listener.readLine(), "ready");

    std::vector<std::string> addresses = paths;
    addresses.push_back("@" + abstract);
    std::string quoted;
    for (const auto& address : addresses)
        quoted += " '" + address + "'";
    auto result = launch(profileText(profile(true)),
                         "/usr/bin/python3 -c '" + std::string(socketClient) + "' tool" + quoted);

    // Clients are served in order: once this one is heard on every socket, the tool's
    // connections would have been heard before it.
    std::vector<std::string> sentinel = {"/usr/bin/python3", "-c", socketClient, "sentinel"};
    sentinel.insert(sentinel.end(), addresses.begin(), addresses.end());
    runProcess(sentinel);
    std::vector<std::string> heard;
    for (std::size_t sentinels = 0; sentinels < addresses.size();) {
        std::string line = listener.readLine();
        ASSERT_FALSE(line.empty()) << "the listener stopped answering";
        if (line == "sentinel")
            ++sentinels;
        else
            heard.push_back(line);
    }
    EXPECT_EQ(heard, std::vector<std::string>{}) << result.out << result.err;
}

TEST_P(SandboxRoute, OutsideProcessesCannotBeSignalled) {
    requireAbi(6);
    Outsider victim(asRunner({"/bin/sleep", "600"}));
    auto result = launch(profileText(profile(true)),
                         "kill -TERM " + std::to_string(victim.pid()) + " && echo signalled");
    EXPECT_EQ(result.out, "") << result.err;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(victim.isRunning()) << result.err;
}

TEST_P(SandboxRoute, RootKeepsNoCapability) {
    bool hasIp = ::access("/usr/sbin/ip", X_OK) == 0 || ::access("/sbin/ip", X_OK) == 0;
    const std::string address = "192.0.2.77";
    auto result = launch(profileText(profile(true)), R"sh(
        grep CapEff /proc/self/status
        PATH=/usr/sbin:/sbin:$PATH ip addr add )sh" + address +
                                                         R"sh(/32 dev lo
        chown 4242:4242 "$W/file")sh");
    auto addresses =
        runProcess({"/bin/sh", "-c", "PATH=/usr/sbin:/sbin:$PATH ip -o addr show dev lo"});
    if (addresses.out.find(address) != std::string::npos)
        runProcess(
            {"/bin/sh", "-c", "PATH=/usr/sbin:/sbin:$PATH ip addr del " + address + "/32 dev lo"});

    EXPECT_NE(result.out.find("CapEff:\t0000000000000000"), std::string::npos) << result.out;
    if (hasIp)
        EXPECT_EQ(addresses.out.find(address), std::string::npos) << addresses.out;
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
    auto result = launch(profileText(profile(false, {}, job)),
                         R"sh(
        echo changed > README
        echo planted > "$TMPDIR/planted"
        echo planted > ")sh" +
                             shared.path().string() + R"sh(/planted"
        for folder in /tmp /var/tmp /dev/shm; do echo left > "$folder/)sh" +
                             left + R"sh("; done
        ls -A /tmp)sh",
                         {}, "", {"TMPDIR=" + shared.path().string()}, job);
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
    auto result = launch(profileText(profile(false, {"~/.pi/agent"})), R"sh(
        cd "$H" && find . -type f -exec cat {} + 2>/dev/null; echo
        echo changed > "$H/.netrc")sh");
    EXPECT_EQ(result.out.find("secret-key"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("own-login"), std::string::npos) << result.out << result.err;
    EXPECT_EQ(files::read(home / ".netrc"), "secret-key");
}

INSTANTIATE_TEST_SUITE_P(Runners, SandboxRoute,
                         ::testing::Values(Runner::current, Runner::unprivileged),
                         [](const auto& info) { return runnerName(info.param); });
