#pragma once

#include "base/Files.h"
#include "harness/SandboxPolicy.h"
#include "harness/SandboxProfile.h"
#include "support/TestSupport.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <linux/landlock.h>
#include <map>
#include <optional>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace marrowbell::test {

namespace fs = std::filesystem;

// The Landlock ABI version of the running kernel; 0 without Landlock.
inline int landlockAbiVersion() {
    long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

// Why the kernel cannot confine runs here, or none when it has Landlock.
inline std::optional<std::string> landlockMissing() {
    if (landlockAbiVersion() > 0)
        return std::nullopt;
    return std::string("this kernel cannot enforce a sandbox: no Landlock (") +
           std::strerror(errno) + ")";
}

// Who starts the launcher: this test process, or the user "nobody".
enum class Runner { current, unprivileged };
inline std::string nameOf(const ::testing::TestParamInfo<Runner>& info) {
    return info.param == Runner::current ? "AsThisUser" : "AsUnprivilegedUser";
}

// The prefix that runs a command as "nobody" for that runner.
inline std::vector<std::string> runnerPrefix(Runner runner) {
    return runner == Runner::current
               ? std::vector<std::string>{}
               : std::vector<std::string>{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                          "--clear-groups", "--"};
}

// Beside the built binaries, since the shared temporary folders are private to each
// confined run and would hide the outside.
inline fs::path sandboxScratchFolder() {
    fs::path folder = fs::path(MARROWBELL_BIN_DIR).parent_path() / "sandbox-scratch";
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms(0755));
    return folder;
}

// Why the launcher cannot be tried by `runner` here, or none: switching to "nobody"
// needs root and setpriv, and containers may forbid the namespaces the launcher needs
// to cover folders (it then refuses every run that has one to cover).
inline std::optional<std::string> runnerUnavailable(Runner runner) {
    static std::map<Runner, std::optional<std::string>> probed;
    if (probed.contains(runner))
        return probed[runner];
    auto& reason = probed[runner];
    if (runner == Runner::unprivileged && ::geteuid() != 0)
        return reason = "switching to an unprivileged user needs root";
    TempDir folder(sandboxScratchFolder());
    fs::permissions(folder.path(), fs::perms(0755));
    auto command = runnerPrefix(runner);
    command.insert(command.end(),
                   {builtBinary("marrowbell-sandbox").string(), "-p",
                    SandboxPolicy{{}, {folder.path().string()}, {}, {}}.text(), "/bin/true"});
    if (ProcessResult result = runProcess(command); result.exitStatus != 0)
        reason = "the launcher cannot cover a folder as this runner here: " + result.err;
    return reason;
}

// A throw-away home (.mozilla/key "secret-key", notes.txt "notes"), temporary folder, runtime
// folder, workspace (file "work-file") and outside folder (existing "original"), all owned by
// the user the tool runs as, so that only the sandbox, never file permissions, keeps the tool
// from writing outside.
class SandboxFixture {
protected:
    TempDir root{sandboxScratchFolder()};
    fs::path home = root / "home";
    fs::path tmp = root / "tmp"; // TMPDIR outside the sandbox
    fs::path run = root / "run"; // XDG_RUNTIME_DIR
    fs::path work = root / "work";
    fs::path outside = root / "outside";
    Runner runner = Runner::current;

    // Sets the layout up; a reason to skip when the runner is not available here.
    std::optional<std::string> prepare(Runner who, int minimumAbi = 1) {
        runner = who;
        if (auto reason = landlockMissing())
            return reason;
        if (auto reason = runnerUnavailable(runner))
            return reason;
        if (landlockAbiVersion() < minimumAbi)
            return "this kernel's Landlock ABI " + std::to_string(landlockAbiVersion()) +
                   " cannot enforce it; it needs " + std::to_string(minimumAbi);
        for (auto [file, text] : {std::pair{home / ".mozilla/key", "secret-key"},
                                  {home / "notes.txt", "notes"},
                                  {work / "file", "work-file"},
                                  {outside / "existing", "original"}})
            writeFile(file, text);
        for (const fs::path& folder : {tmp, run, root / "bin"})
            fs::create_directories(folder);
        fs::permissions(root.path(), fs::perms(0755));
        for (const fs::path& folder : {home, tmp, run, work, outside})
            handOver(folder);
        return std::nullopt;
    }

    // Gives `path` and everything inside it to the user the tool runs as.
    void handOver(const fs::path& path) const {
        if (runner == Runner::unprivileged && ::lchown(path.c_str(), 65534, 65534) != 0)
            throw std::runtime_error("cannot hand over " + path.string());
        if (runner == Runner::unprivileged && fs::is_directory(fs::symlink_status(path)))
            for (const auto& entry : fs::directory_iterator(path))
                handOver(entry.path());
    }

    // The profile's text, computed with this layout's HOME, TMPDIR, XDG_DATA_HOME (in
    // the home) and XDG_RUNTIME_DIR.
    std::string profile(bool workspaceWritable, std::vector<std::string> harnessPaths = {},
                        std::optional<fs::path> workspace = {}) const {
        ScopedEnv homeEnv("HOME", home.string()), tmpEnv("TMPDIR", tmp.string());
        ScopedEnv dataEnv("XDG_DATA_HOME", (home / ".local/share").string());
        ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", run.string());
        return SandboxProfile{workspace.value_or(work), std::move(harnessPaths), workspaceWritable}
            .text();
    }

    // The command that runs `script` (sh, with W, H, T and O naming the folders) as the
    // tool of `marrowbell-sandbox -p TEXT`, as the runner.
    std::vector<std::string> command(const std::string& text, const std::string& script) {
        fs::path tool = root / "bin" / ("tool-" + std::to_string(++scripts_) + ".sh");
        writeFile(tool,
                  "#!/bin/sh\nW='" + work.string() + "'\nH='" + home.string() + "'\nT='" +
                      tmp.string() + "'\nO='" + outside.string() + "'\n" + script + "\n",
                  true);
        auto command = runnerPrefix(runner);
        command.insert(command.end(),
                       {builtBinary("marrowbell-sandbox").string(), "-p", text, tool.string()});
        return command;
    }

    // Runs `command(text, script)` with `arguments` after it, from `workingFolder` (by
    // default this process's own).
    ProcessResult launch(const std::string& text, const std::string& script,
                         const std::vector<std::string>& arguments = {},
                         const std::string& input = "",
                         const std::vector<std::string>& environment = {},
                         const std::optional<fs::path>& workingFolder = {}) {
        std::vector<std::string> full;
        if (workingFolder)
            full = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", workingFolder->string()};
        for (auto list : {command(text, script), arguments})
            full.insert(full.end(), list.begin(), list.end());
        std::vector<std::string> env = {"HOME=" + home.string(), "TMPDIR=" + tmp.string()};
        env.insert(env.end(), environment.begin(), environment.end());
        return runProcess(full, input, env);
    }

    // What the tool changed that it may not: names added to `outside`, and the
    // contents of outside/existing and work/file; empty when nothing.
    std::string damage() const {
        std::string found;
        for (const auto& entry : fs::directory_iterator(outside))
            found += entry.path().filename() == "existing"
                         ? ""
                         : " added " + entry.path().filename().string();
        found += files::read(outside / "existing") == "original" ? "" : " changed outside/existing";
        return found + (files::read(work / "file") == "work-file" ? "" : " changed work/file");
    }

private:
    int scripts_ = 0;
};

// A test run by each runner, skipped where that runner is not available.
class RunnerTest : public SandboxFixture, public ::testing::TestWithParam<Runner> {
protected:
    void SetUp() override {
        if (auto reason = prepare(GetParam()))
            GTEST_SKIP() << *reason;
    }
};

} // namespace marrowbell::test
