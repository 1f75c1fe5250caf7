#include "SandboxFixture.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <linux/landlock.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace marrowbell::test {

namespace fs = std::filesystem;
using test::ScopedEnv;

namespace {

constexpr uid_t nobody = 65534;
const char* const setpriv = "/usr/bin/setpriv";

std::vector<std::string> unprivilegedPrefix() {
    return {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
}

// True when every folder from "/" to `folder` lets other users pass.
bool othersCanReach(const fs::path& folder) {
    for (fs::path at = folder; !at.empty(); at = at.parent_path()) {
        std::error_code error;
        if ((fs::status(at, error).permissions() & fs::perms::others_exec) == fs::perms::none)
            return false;
        if (at == at.root_path())
            break;
    }
    return true;
}

} // namespace

fs::path sandboxScratchFolder() {
    fs::path folder = fs::path(MARROWBELL_BIN_DIR).parent_path() / "sandbox-scratch";
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms(0755));
    return folder;
}

int landlockAbiVersion() {
    long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

std::optional<std::string> landlockMissing() {
    long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi > 0)
        return std::nullopt;
    return std::string("this kernel cannot enforce a sandbox: Landlock is ") +
           (errno == EOPNOTSUPP ? "disabled" : "missing") + " (" + std::strerror(errno) + ")";
}

std::optional<std::string> unprivilegedUnavailable() {
    static const std::optional<std::string> reason = []() -> std::optional<std::string> {
        if (::geteuid() != 0)
            return "switching to an unprivileged user needs root";
        if (::access(setpriv, X_OK) != 0)
            return "setpriv (util-linux) is not installed";
        if (!othersCanReach(sandboxScratchFolder()))
            return "other users cannot reach " + sandboxScratchFolder().string();
        auto probe = unprivilegedPrefix();
        probe.insert(probe.end(), {"/usr/bin/unshare", "--user", "--mount", "true"});
        ProcessResult result = runProcess(probe);
        if (result.exitStatus != 0)
            return "this machine does not let an unprivileged user create a user namespace: " +
                   result.err;
        return std::nullopt;
    }();
    return reason;
}

namespace {

// Containers may forbid the namespaces the launcher needs to cover folders; the
// launcher then refuses every run that has one to cover, and there is nothing to test.
std::optional<std::string> coveringUnavailable(Runner runner) {
    static std::optional<std::string> reasons[2];
    static bool probed[2] = {false, false};
    int index = runner == Runner::current ? 0 : 1;
    if (!probed[index]) {
        probed[index] = true;
        TempDir folder(sandboxScratchFolder());
        fs::permissions(folder.path(), fs::perms(0755));
        std::vector<std::string> command;
        if (runner == Runner::unprivileged)
            command = unprivilegedPrefix();
        SandboxPolicy policy{{}, {folder.path().string()}, {}, {}};
        command.insert(command.end(), {builtBinary("marrowbell-sandbox").string(), "-p",
                                       policy.text(), "/bin/true"});
        ProcessResult result = runProcess(command);
        if (result.exitStatus != 0)
            reasons[index] = "this machine does not let the launcher cover a folder: " + result.err;
    }
    return reasons[index];
}

} // namespace

std::string runnerName(Runner runner) {
    return runner == Runner::current ? "AsThisUser" : "AsUnprivilegedUser";
}

std::optional<std::string> SandboxFixture::prepare(Runner runner) {
    runner_ = runner;
    if (auto reason = landlockMissing())
        return reason;
    if (runner == Runner::unprivileged)
        if (auto reason = unprivilegedUnavailable())
            return reason;
    if (auto reason = coveringUnavailable(runner))
        return reason;
    writeFile(home / ".mozilla" / "key", "secret-key");
    writeFile(home / "notes.txt", "notes");
    writeFile(work / "file", "work-file");
    writeFile(outside / "existing", "original");
    fs::create_directories(tmp);
    fs::create_directories(run);
    fs::create_directories(root / "bin");
    fs::permissions(root.path(), fs::perms(0755));
    for (const fs::path& folder : {home, tmp, run, work, outside})
        handOver(folder);
    return std::nullopt;
}

void SandboxFixture::handOver(const fs::path& path) const {
    if (runner_ != Runner::unprivileged)
        return;
    if (::lchown(path.c_str(), nobody, nobody) != 0)
        throw std::runtime_error("cannot hand " + path.string() + " over: " + std::strerror(errno));
    if (fs::is_directory(fs::symlink_status(path)))
        for (const auto& entry : fs::directory_iterator(path))
            handOver(entry.path());
}

SandboxProfile SandboxFixture::profile(bool workspaceWritable,
                                       std::vector<std::string> harnessPaths,
                                       std::optional<fs::path> workspace) const {
    return SandboxProfile{workspace.value_or(work), std::move(harnessPaths), workspaceWritable};
}

std::string SandboxFixture::profileText(const SandboxProfile& profile) const {
    ScopedEnv homeEnv("HOME", home.string());
    ScopedEnv tmpEnv("TMPDIR", tmp.string());
    ScopedEnv dataEnv("XDG_DATA_HOME", (home / ".local/share").string());
    ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", run.string());
    return profile.text();
}

ProcessResult SandboxFixture::launch(const std::string& text, const std::string& script,
                                     const std::vector<std::string>& arguments,
                                     const std::string& input,
                                     const std::vector<std::string>& environment,
                                     const std::optional<fs::path>& workingFolder) {
    fs::path tool = writeTool(script);
    std::vector<std::string> command;
    if (workingFolder)
        command = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", workingFolder->string()};
    if (runner_ == Runner::unprivileged) {
        auto prefix = unprivilegedPrefix();
        command.insert(command.end(), prefix.begin(), prefix.end());
    }
    command.insert(command.end(),
                   {builtBinary("marrowbell-sandbox").string(), "-p", text, tool.string()});
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<std::string> env = {"HOME=" + home.string(), "TMPDIR=" + tmp.string()};
    env.insert(env.end(), environment.begin(), environment.end());
    return runProcess(command, input, env);
}

fs::path SandboxFixture::writeTool(const std::string& script) {
    fs::path tool = root / "bin" / ("tool-" + std::to_string(++scripts_) + ".sh");
    writeFile(tool,
              "#!/bin/sh\nW='" + work.string() + "'\nH='" + home.string() + "'\nT='" +
                  tmp.string() + "'\nO='" + outside.string() + "'\n" + script + "\n",
              true);
    return tool;
}

ProcessResult SandboxFixture::launchFromTerminal(const std::string& text,
                                                 const std::string& script) {
    // A terminal of its own leads the shell's session, as an interactive shell's would.
    static const char* const terminal = R"py(
import os, pty, sys
pid, master = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
while True:
    try:
        data = os.read(master, 4096)
    except OSError:
        break
    if not data:
        break
    sys.stdout.buffer.write(data)
sys.exit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
)py";
    std::vector<std::string> command;
    if (runner_ == Runner::unprivileged)
        command = unprivilegedPrefix();
    command.insert(command.end(), {"/usr/bin/python3", "-c", terminal, "/bin/bash", "-c",
                                   R"sh("$@"; IFS= read -r -t 1 line && eval "$line")sh", "bash",
                                   builtBinary("marrowbell-sandbox").string(), "-p", text,
                                   writeTool(script).string()});
    return runProcess(command, "", {"HOME=" + home.string(), "TMPDIR=" + tmp.string()});
}

std::vector<std::string> SandboxFixture::outsideEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(outside))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace marrowbell::test
