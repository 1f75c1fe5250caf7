#include "harness/SandboxPolicy.h"
#include "harness/SandboxProfile.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace marrowbell;
namespace fs = std::filesystem;
using Paths = std::vector<std::string>;
using test::ScopedEnv;

namespace {

// `paths` with `more` added, sorted as the profile lists them.
Paths with(Paths paths, const std::vector<fs::path>& more) {
    for (const fs::path& path : more)
        paths.push_back(path.string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

Paths without(Paths paths, const fs::path& gone) {
    std::erase(paths, gone.string());
    return paths;
}

// `folders` with the run's private temporary folders, sorted.
Paths withTemporaryFolders(const std::vector<fs::path>& folders) {
    return with({"/dev/shm", "/private/var/folders", "/tmp", "/var/tmp"}, folders);
}

bool lists(const Paths& paths, const fs::path& path) {
    return std::find(paths.begin(), paths.end(), path.string()) != paths.end();
}

class SandboxProfileTest : public ::testing::Test {
protected:
    test::TempDir root;
    fs::path home = root / "home", tmp = root / "tmp", work = root / "work";
    ScopedEnv homeEnv{"HOME", home.string()};
    ScopedEnv tmpEnv{"TMPDIR", tmp.string()};
    ScopedEnv dataEnv{"XDG_DATA_HOME", (home / ".local/share").string()};
    ScopedEnv runtimeEnv{"XDG_RUNTIME_DIR", (root / "run").string()};

    void SetUp() override {
        fs::create_directories(home);
        fs::create_directories(tmp);
    }
    // What a run in an unrelated folder may not read, with the folders made so far.
    Paths baseline() const { return SandboxProfile{work, {}, false}.unreadableSubpaths(); }
};

} // namespace

// What each level may write, the user's shared temporary folder never, and the keys and
// other tools' logins hidden: the launcher's tests, on the real profile.
TEST_F(SandboxProfileTest, TextHoldsEveryRuleAndNoTerminal) {
    fs::create_directories(work);
    SandboxProfile profile{work, {"~/.tool"}, true};
    const Paths hidden = baseline();
    for (const fs::path& path :
         {home / "Music", home / "Pictures", home / "Library/Mail", fs::path("/Volumes")})
        EXPECT_TRUE(lists(hidden, path)) << path;
    EXPECT_EQ(profile.writableSubpaths(), withTemporaryFolders({home / ".tool", work}));
    SandboxPolicy policy = SandboxPolicy::parse(profile.text());
    EXPECT_EQ(policy.writableSubpaths, profile.writableSubpaths());
    EXPECT_EQ(policy.unreadableSubpaths, hidden);
    EXPECT_EQ(policy.writablePatterns, Paths{"^/private/tmp/claude-[0-9A-Fa-f]+-cwd$"});
    EXPECT_TRUE(lists(policy.writableLiterals, "/dev/null"));
    EXPECT_FALSE(lists(policy.writableLiterals, "/dev/tty"));
}

// A missing workspace resolves through its linked ancestor; {uid} is replaced before
// the tilde is expanded; repeats and trailing slashes are listed once.
TEST_F(SandboxProfileTest, WritableFoldersAreResolvedAndListedOnce) {
    fs::create_directories(root / "real");
    fs::create_directory_symlink(root / "real", root / "link");
    SandboxProfile profile{root / "link" / "new" / "deeper", {}, true};
    EXPECT_EQ(profile.writableSubpaths(), withTemporaryFolders({root / "real/new/deeper"}));
    EXPECT_EQ(SandboxProfile::resolved(root / "link/./new/../new/deeper/"),
              (root / "real/new/deeper").string());
    EXPECT_EQ(SandboxProfile::resolved("/marrowbell-absent/x/../y"), "/marrowbell-absent/x/../y");
    EXPECT_EQ(SandboxProfile::resolved("/"), "/");

    std::string uid = std::to_string(::getuid());
    EXPECT_TRUE(lists(SandboxProfile{work, {"~/.state-{uid}/{uid}"}, false}.writableSubpaths(),
                      home / (".state-" + uid) / uid));
    fs::create_directories(home / ".tool");
    fs::create_directory_symlink(home / ".tool", home / ".tool-link");
    EXPECT_EQ(
        (SandboxProfile{tmp, {"~/.tool/", "~/.tool", "~/.tool-link"}, true}.writableSubpaths()),
        withTemporaryFolders({home / ".tool", tmp}));
}

// A harness folder inside a private folder unhides that folder only; a workspace at
// home unhides every home folder (a workspace inside one: the launcher's tests).
TEST_F(SandboxProfileTest, AFolderTheRunNeedsIsUnhidden) {
    fs::create_directories(home / ".config/chromium");
    fs::create_directories(home / ".local/share/keyrings");
    fs::create_directories(home / ".mozilla");
    SandboxProfile harness{work, {"~/.config/chromium/extension-state"}, false};
    EXPECT_EQ(harness.unreadableSubpaths(), without(baseline(), home / ".config/chromium"));
    EXPECT_TRUE(lists(harness.unreadableSubpaths(), home / ".local/share/keyrings"));
    const Paths atHome = SandboxProfile{home, {}, true}.unreadableSubpaths();
    for (const std::string& path : atHome)
        EXPECT_FALSE(path.starts_with(home.string())) << path;
    EXPECT_TRUE(lists(atHome, "/Volumes"));
}

TEST_F(SandboxProfileTest, LinuxPrivateFoldersAreListedOnlyWhereTheyExist) {
    const Paths before = baseline();
    fs::create_directories(home / ".mozilla");
    fs::create_directories(home / ".password-store");
    fs::create_directories(root / "elsewhere");
    fs::create_directory_symlink(root / "elsewhere", home / "Videos");
    // ~/Videos is listed as the folder it links to.
    EXPECT_EQ(baseline(),
              with(before, {home / ".mozilla", home / ".password-store", root / "elsewhere"}));
}

TEST(SandboxProfileExecutable, IsTheLauncherBesideTheBinaries) {
    EXPECT_EQ(SandboxProfile::executable(), test::builtBinary("marrowbell-sandbox"));
    EXPECT_TRUE(fs::exists(SandboxProfile::executable()));
}
