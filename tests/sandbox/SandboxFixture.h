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

// A throw-away home, temporary folder, workspace and an outside folder, all owned by
// the unprivileged user when the tests run as root, so that only the sandbox (never
// file permissions) keeps the tool from writing outside.
//   home/.mozilla/key  "secret-key" (a private folder that exists)
//   home/notes.txt     "notes"
//   work/file          "work-file"
//   outside/existing   "original"
class SandboxFixture {
protected:
    TempDir root;
    std::filesystem::path home = root / "home";
    std::filesystem::path tmp = root / "tmp";
    std::filesystem::path work = root / "work";
    std::filesystem::path outside = root / "outside";

    // Sets the layout up; a reason to skip when the runner is not available here.
    std::optional<std::string> prepare(Runner runner);

    // The profile computed with this layout's HOME and TMPDIR.
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

    // The names in `outside`, sorted.
    std::vector<std::string> outsideEntries() const;

private:
    Runner runner_ = Runner::current;
    int scripts_ = 0;
};

} // namespace marrowbell::test
