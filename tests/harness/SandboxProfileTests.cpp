#include "harness/SandboxPolicy.h"
#include "harness/SandboxProfile.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

using namespace marrowbell;
namespace fs = std::filesystem;
using test::ScopedEnv;

namespace {

// System-wide private folders this machine has; they are listed in every profile.
std::vector<std::string> existingSystemCandidates() {
    std::vector<std::string> result;
    for (const std::string& path : {std::string("/media"), std::string("/run/media"),
                                    "/run/user/" + std::to_string(::getuid())})
        if (fs::exists(path))
            result.push_back(SandboxProfile::resolved(path));
    return result;
}

// `folders` with the run's private temporary folders, sorted.
std::vector<std::string> withTemporaryFolders(std::vector<std::string> folders) {
    folders.insert(folders.end(), {"/dev/shm", "/private/var/folders", "/tmp", "/var/tmp"});
    std::sort(folders.begin(), folders.end());
    return folders;
}

class SandboxProfileTest : public ::testing::Test {
protected:
    test::TempDir root;
    fs::path home = root / "home";
    fs::path tmp = root / "tmp";
    ScopedEnv homeEnv{"HOME", (root / "home").string()};
    ScopedEnv tmpEnv{"TMPDIR", (root / "tmp").string()};
    ScopedEnv dataEnv{"XDG_DATA_HOME", (root / "home/.local/share").string()};
    ScopedEnv runtimeEnv{"XDG_RUNTIME_DIR", (root / "run").string()};

    void SetUp() override {
        fs::create_directories(home);
        fs::create_directories(tmp);
    }

    // The unreadable list for a home with none of the Linux private folders.
    std::vector<std::string> defaultUnreadable() const {
        std::vector<std::string> result = {"/Volumes"};
        for (const char* name :
             {"Library/Application Support/AddressBook",
              "Library/Application Support/com.apple.TCC", "Library/Calendars",
              "Library/Containers/com.apple.Safari", "Library/Cookies", "Library/HomeKit",
              "Library/IdentityServices", "Library/Mail", "Library/Messages",
              "Library/Metadata/CoreSpotlight", "Library/Safari", "Library/Suggestions", "Movies",
              "Music", "Pictures"})
            result.push_back((home / name).string());
        for (const auto& path : existingSystemCandidates())
            result.push_back(path);
        std::sort(result.begin(), result.end());
        return result;
    }
};

} // namespace

TEST_F(SandboxProfileTest, ScopedWriteTextListsEveryRuleInOrder) {
    fs::create_directories(root / "work");
    SandboxProfile profile{root / "work", {"~/.tool"}, true};
    std::string expected = "(version 1)\n(allow default)\n(deny file-write*)\n";
    for (const std::string& path :
         withTemporaryFolders({(home / ".tool").string(), (root / "work").string()}))
        expected += "(allow file-write* (subpath \"" + path + "\"))\n";
    for (const auto& path : defaultUnreadable())
        expected += "(deny file-read* (subpath \"" + path + "\"))\n";
    expected += "(allow file-write* (regex #\"^/private/tmp/claude-[0-9A-Fa-f]+-cwd$\"))\n"
                "(allow file-write-data (literal \"/dev/null\") (literal \"/dev/stdout\") "
                "(literal \"/dev/stderr\") (literal \"/dev/dtracehelper\") (literal "
                "\"/dev/urandom\"))";
    EXPECT_EQ(profile.text(), expected);
}

// The user's own temporary folder is shared with everything else the user runs.
TEST_F(SandboxProfileTest, ReadOnlyProfileKeepsOnlyThePrivateTemporaryFolders) {
    SandboxProfile profile{root / "work", {}, false};
    EXPECT_EQ(profile.writableSubpaths(), withTemporaryFolders({}));
    EXPECT_EQ(profile.text().find((root / "work").string()), std::string::npos);
    EXPECT_EQ(profile.text().find(tmp.string()), std::string::npos);
}

TEST_F(SandboxProfileTest, MissingWorkspaceResolvesThroughItsLinkedAncestor) {
    fs::create_directories(root / "real");
    fs::create_directory_symlink(root / "real", root / "link");
    SandboxProfile profile{root / "link" / "new" / "deeper", {}, true};
    EXPECT_EQ(profile.writableSubpaths(),
              withTemporaryFolders({(root / "real/new/deeper").string()}));
    EXPECT_EQ(SandboxProfile::resolved(root / "link/./new/../new/deeper/"),
              (root / "real/new/deeper").string());
}

TEST(SandboxProfileResolved, PathWithNothingExistingIsKeptAsWritten) {
    EXPECT_EQ(SandboxProfile::resolved("/marrowbell-absent/x/../y"), "/marrowbell-absent/x/../y");
    EXPECT_EQ(SandboxProfile::resolved("/"), "/");
}

TEST_F(SandboxProfileTest, UidIsReplacedBeforeTheTildeIsExpanded) {
    SandboxProfile profile{root / "work", {"~/.state-{uid}/{uid}"}, false};
    std::string uid = std::to_string(::getuid());
    auto writable = profile.writableSubpaths();
    EXPECT_NE(
        std::find(writable.begin(), writable.end(), (home / (".state-" + uid) / uid).string()),
        writable.end());
}

TEST_F(SandboxProfileTest, DuplicatesAndTrailingSlashesAreListedOnce) {
    fs::create_directories(home / ".tool");
    fs::create_directory_symlink(home / ".tool", home / ".tool-link");
    SandboxProfile profile{tmp, {"~/.tool/", "~/.tool", "~/.tool-link"}, true};
    EXPECT_EQ(profile.writableSubpaths(),
              withTemporaryFolders({(home / ".tool").string(), tmp.string()}));
}

TEST_F(SandboxProfileTest, WorkspaceInsideAPrivateFolderUnhidesIt) {
    SandboxProfile profile{home / "Music" / "project", {}, false};
    auto expected = defaultUnreadable();
    std::erase(expected, (home / "Music").string());
    EXPECT_EQ(profile.unreadableSubpaths(), expected);
}

TEST_F(SandboxProfileTest, WorkspaceAtHomeUnhidesEveryHomeFolder) {
    fs::create_directories(home / ".mozilla");
    SandboxProfile profile{home, {}, true};
    auto expected = existingSystemCandidates();
    expected.insert(expected.begin(), "/Volumes");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(profile.unreadableSubpaths(), expected);
}

TEST_F(SandboxProfileTest, HarnessFolderInsideAPrivateFolderUnhidesIt) {
    fs::create_directories(home / ".config/chromium");
    fs::create_directories(home / ".local/share/keyrings");
    SandboxProfile profile{root / "work", {"~/.config/chromium/extension-state"}, false};
    auto unreadable = profile.unreadableSubpaths();
    EXPECT_EQ(
        std::count(unreadable.begin(), unreadable.end(), (home / ".config/chromium").string()), 0);
    EXPECT_EQ(
        std::count(unreadable.begin(), unreadable.end(), (home / ".local/share/keyrings").string()),
        1);
}

TEST_F(SandboxProfileTest, LinuxPrivateFoldersAreListedOnlyWhereTheyExist) {
    fs::create_directories(home / ".mozilla");
    fs::create_directories(home / ".password-store");
    fs::create_directories(root / "elsewhere");
    fs::create_directory_symlink(root / "elsewhere", home / "Videos");
    SandboxProfile profile{root / "work", {}, false};
    auto expected = defaultUnreadable();
    expected.push_back((home / ".mozilla").string());
    expected.push_back((home / ".password-store").string());
    expected.push_back((root / "elsewhere").string()); // ~/Videos, made canonical
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(profile.unreadableSubpaths(), expected);
}

TEST_F(SandboxProfileTest, KeysAndOtherHarnessesLoginsAreHiddenButTheHarnesssOwnStaysReadable) {
    for (const char* folder : {".ssh", ".codex", ".pi/agent", ".local/share/Marrowbell"})
        fs::create_directories(home / folder);
    for (const char* file : {".netrc", ".claude.json"})
        test::writeFile(home / file, "secret");
    fs::create_directories(root / "run");
    SandboxProfile profile{root / "work", {"~/.pi/agent"}, false};
    auto expected = defaultUnreadable();
    for (const char* hidden :
         {".ssh", ".codex", ".local/share/Marrowbell", ".netrc", ".claude.json"})
        expected.push_back((home / hidden).string());
    expected.push_back((root / "run").string());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(profile.unreadableSubpaths(), expected);
}

TEST_F(SandboxProfileTest, QuotesAndBackslashesInPathsAreEscaped) {
    SandboxProfile profile{root / "a \"quoted\" \\ folder", {}, true};
    std::string text = profile.text();
    EXPECT_NE(text.find("(subpath \"" + root.path().string() + "/a \\\"quoted\\\" \\\\ folder\")"),
              std::string::npos);
    EXPECT_EQ(SandboxPolicy::parse(text).writableSubpaths, profile.writableSubpaths());
}

TEST(SandboxProfileExecutable, IsTheLauncherBesideTheBinaries) {
    EXPECT_EQ(SandboxProfile::executable(), test::builtBinary("marrowbell-sandbox"));
    EXPECT_TRUE(fs::exists(SandboxProfile::executable()));
}
