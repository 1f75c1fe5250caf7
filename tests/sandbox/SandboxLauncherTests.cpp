#include "SandboxFixture.h"

using namespace marrowbell;
using namespace marrowbell::test;

namespace {

class SandboxLauncher : public RunnerTest {};

} // namespace

// Writes go to the workspace and the run's own temporary folder only, from the tool and
// from every process it starts.
TEST_P(SandboxLauncher, ScopedWriteWritesTheWorkspaceAndItsOwnTemporaryFolderOnly) {
    auto result = launch(profile(true), R"sh(
        echo inside > "$W/new" && echo wrote-workspace
        mkdir "$W/sub" && echo x > "$W/sub/y" && rm -r "$W/sub" && echo changed-tree
        echo scratch > "$TMPDIR/scratch" && echo wrote-temporary
        echo x > /dev/null && echo wrote-null
        echo outside > "$T/new" || echo refused-shared-temporary
        echo outside > "$O/new" || echo refused-outside
        echo outside > "$H/new" || echo refused-home
        echo outside >> "$O/existing" || echo refused-append
        sh -c 'echo child > "$1/child"' - "$O"
        (echo background > "$O/background") & wait
        setsid sh -c 'echo session > "$1/session"' - "$O"
        sh -c 'sh -c "echo grandchild > $1/grandchild"' - "$O"
        sh -c 'echo child > "$1/child"' - "$W" && echo child-wrote-workspace)sh");
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "wrote-workspace\nchanged-tree\nwrote-temporary\nwrote-null\n"
                          "refused-shared-temporary\nrefused-outside\nrefused-home\n"
                          "refused-append\nchild-wrote-workspace\n");
    EXPECT_NE(result.err.find("Permission denied"), std::string::npos) << result.err;
    EXPECT_EQ(files::read(work / "new"), "inside\n");
    EXPECT_EQ(damage(), "");
    EXPECT_FALSE(fs::exists(home / "new"));
}

// A denied folder looks empty, nested denied folders and files too, while what lies
// around them stays readable; so does a working folder inside one, and a workspace
// inside one is readable and writable.
TEST_P(SandboxLauncher, DeniedFoldersLookEmptyWhileTheirSurroundingsStayReadable) {
    writeFile(home / ".mozilla" / "inner" / "key", "secret-key");
    writeFile(home / "Videos", "secret-key");
    SandboxPolicy policy{{work.string()},
                         {(home / ".mozilla").string(), (home / ".mozilla" / "inner").string(),
                          (home / "Videos").string()},
                         {},
                         {}};
    auto result = launch(policy.text(), R"sh(
        echo "denied: [$(ls -A "$H/.mozilla")] [$(cat "$H/Videos")]"
        cat "$H/.mozilla/key" || echo refused-key
        echo "home: $(ls -A "$H" | tr '\n' ' ')"
        cat "$H/notes.txt"; echo)sh");
    EXPECT_EQ(result.out, "denied: [] []\nrefused-key\nhome: .mozilla Videos notes.txt \nnotes\n")
        << result.err;
    EXPECT_EQ(result.err.find("secret-key"), std::string::npos);
    result = launch(profile(true), R"sh(cat key || echo refused-relative; echo "[$(ls -A)]")sh", {},
                    "", {}, home / ".mozilla");
    EXPECT_EQ(result.out, "refused-relative\n[]\n") << result.err;
    fs::path project = home / ".mozilla" / "project";
    writeFile(project / "source.txt", "source");
    handOver(home / ".mozilla");
    result = launch(profile(true, {}, project), R"sh(
        cat "$H/.mozilla/project/source.txt"; echo
        cat "$H/.mozilla/key"; echo
        echo more > "$H/.mozilla/project/more" && echo wrote-project)sh");
    EXPECT_EQ(result.out, "source\nsecret-key\nwrote-project\n") << result.err;
}

// A read-only run reads the workspace but cannot change it. Harness state folders are
// writable, even rewritten by rename; a missing one is made where its parent exists, and
// nothing is made where it does not.
TEST_P(SandboxLauncher, ReadOnlyRunWritesOnlyItsHarnessStateFolders) {
    writeFile(home / ".tool" / "settings.json", "{\"v\":1}");
    handOver(home / ".tool");
    auto result = launch(profile(false, {"~/.tool", "~/.fresh", "~/.absent/state"}), R"sh(
        cat "$W/file"; echo
        echo changed > "$W/file" || echo refused-change
        rm "$W/file" || echo refused-remove
        echo scratch > "$TMPDIR/scratch" && echo wrote-temporary
        for v in 2 3; do
            printf '{"v":%s}' $v > "$H/.tool/settings.json.tmp" &&
                mv "$H/.tool/settings.json.tmp" "$H/.tool/settings.json"
        done
        cat "$H/.tool/settings.json"; echo
        echo state > "$H/.fresh/state" && echo wrote-fresh
        mkdir -p "$H/.absent/state" || echo refused-absent
        ls -A "$H" | tr '\n' ' ')sh");
    EXPECT_EQ(result.out,
              "work-file\nrefused-change\nrefused-remove\nwrote-temporary\n"
              "{\"v\":3}\nwrote-fresh\nrefused-absent\n.fresh .mozilla .tool notes.txt ")
        << result.err;
    EXPECT_FALSE(fs::exists(home / ".absent"));
    EXPECT_EQ(damage(), "");
}

TEST_P(SandboxLauncher, ToolKeepsItsUserArgumentsEnvironmentStreamsAndExitStatus) {
    auto result = launch(
        profile(true),
        R"sh(id -u; printf '[%s]' "$@"; echo; echo "$MARROWBELL_PROBE"; cat; echo err >&2)sh",
        {"two words", "", "-p"}, "from stdin\n", {"MARROWBELL_PROBE=kept"});
    EXPECT_EQ(result.exitStatus, 0);
    std::string uid = GetParam() == Runner::unprivileged ? "65534" : std::to_string(::getuid());
    EXPECT_EQ(result.out, uid + "\n[two words][][-p]\nkept\nfrom stdin\n");
    EXPECT_EQ(result.err, "err\n");
    std::string text = profile(true);
    EXPECT_EQ(launch(text, "exit 42").exitStatus, 42);
    EXPECT_EQ(launch(text, "kill -TERM $$").exitStatus, 128 + SIGTERM);
    EXPECT_EQ(launch(text, "kill -KILL $$").exitStatus, 128 + SIGKILL);
}

INSTANTIATE_TEST_SUITE_P(Runners, SandboxLauncher,
                         ::testing::Values(Runner::current, Runner::unprivileged), nameOf);
