#pragma once

#include "harness/SandboxPolicy.h"
#include "harness/SandboxProfile.h"
#include "support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace marrowbell::test {

// Why the kernel cannot confine runs here, or none when it has Landlock.
std::optional<std::string> landlockMissing();
// The Landlock ABI version of the running kernel; 0 without Landlock.
int landlockAbiVersion();
// Why the launcher cannot be tried as an unprivileged user here, or none.
std::optional<std::string> unprivilegedUnavailable();

// Who starts the launcher: this test process, or the user "nobody".
enum class Runner { current, unprivileged };
std::string runnerName(Runner runner);
inline void PrintTo(Runner runner, std::ostream* out) {
    *out << runnerName(runner);
}

// The folder the sandbox tests work in: beside the built binaries, since the shared
// temporary folders are private to each confined run and would hide the outside.
std::filesystem::path sandboxScratchFolder();

// A throw-away home, temporary folder, runtime folder, workspace and an outside
// folder, all owned by the user the tool runs as (it holds no capability, even as
// root), so that only the sandbox (never file permissions) keeps the tool from
// writing outside.
//   home/.mozilla/key  "secret-key" (a private folder that exists)
//   home/notes.txt     "notes"
//   work/file          "work-file"
//   outside/existing   "original"
class SandboxFixture {
protected:
    TempDir root{sandboxScratchFolder()};
    std::filesystem::path home = root / "home";
    std::filesystem::path tmp = root / "tmp"; // TMPDIR outside the sandbox
    std::filesystem::path run = root / "run"; // XDG_RUNTIME_DIR
    std::filesystem::path work = root / "work";
    std::filesystem::path outside = root / "outside";

    // Sets the layout up; a reason to skip when the runner is not available here.
    std::optional<std::string> prepare(Runner runner);

    // Gives `path` and everything inside it to the user the tool runs as.
    void handOver(const std::filesystem::path& path) const;

    // The profile computed with this layout's HOME, TMPDIR, XDG_DATA_HOME (in the
    // home) and XDG_RUNTIME_DIR.
    SandboxProfile profile(bool workspaceWritable, std::vector<std::string> harnessPaths = {},
                           std::optional<std::filesystem::path> workspace = {}) const;
    std::string profileText(const SandboxProfile& profile) const;

    // Runs `script` (sh, with W, H, T and O naming the folders) as the tool of
    // `marrowbell-sandbox -p TEXT`, with `arguments` after it, from `workingFolder`
    // (by default this process's own).
    ProcessResult launch(const std::string& text, const std::string& script,
                         const std::vector<std::string>& arguments = {},
                         const std::string& input = "",
                         const std::vector<std::string>& environment = {},
                         const std::optional<std::filesystem::path>& workingFolder = {});

    // `launch` from a shell that owns a terminal, as when the user starts a run from an
    // interactive shell: after the tool exits, the shell reads one line typed on the
    // terminal within a second and runs it.
    ProcessResult launchFromTerminal(const std::string& text, const std::string& script);

    // The names in `outside`, sorted.
    std::vector<std::string> outsideEntries() const;

private:
    Runner runner_ = Runner::current;
    int scripts_ = 0;

    std::filesystem::path writeTool(const std::string& script);
};

} // namespace marrowbell::test
