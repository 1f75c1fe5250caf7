#include "base/Files.h"
#include "harness/SandboxProfile.h"
#include "run/JobRunnerTestSupport.h"
#include "run/RunWorktree.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <thread>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

const Instant startedAt = Instant::fromUnix(1796600000);

// Runs `script` with sh in `folder` (git with a committer of its own); its output.
// `committed` makes a repository with one commit holding "kept.txt" and "gone.txt".
std::string sh(const fs::path& folder, const std::string& script) {
    const std::string committed = "committed() { git init -q -b main && echo kept > kept.txt && "
                                  "echo gone > gone.txt && git add -A && git commit -qm first; }";
    test::ProcessResult result = test::runProcess(
        {"/bin/sh", "-c", committed + "\ncd \"$0\" && " + script, folder.string()}, "",
        {"GIT_AUTHOR_NAME=Tester", "GIT_AUTHOR_EMAIL=t@example.invalid",
         "GIT_COMMITTER_NAME=Tester", "GIT_COMMITTER_EMAIL=t@example.invalid"});
    EXPECT_EQ(result.exitStatus, 0) << script << ": " << result.err;
    return result.out;
}

// Every file of the checkout with its bytes, the git folder's index and HEAD included:
// what must stay the same whatever a run does.
std::map<std::string, std::string> snapshot(const fs::path& checkout) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(checkout)) {
        std::string relative = fs::relative(entry.path(), checkout).string();
        bool inGit = relative == ".git" || relative.starts_with(".git/");
        if (entry.is_regular_file() &&
            (!inGit || relative == ".git/index" || relative == ".git/HEAD" ||
             fs::is_regular_file(checkout / ".git")))
            files[relative] = *files::read(entry.path());
    }
    return files;
}

// A runner whose harness is `script`, running a scoped-write job in a committed repository.
struct WorktreeRun {
    explicit WorktreeRun(const std::string& script, Json spec = test::standInSpec())
        : f(script, spec) {
        sh(f.folder / "work", "committed");
        job.permission = PermissionLevel::scopedWrite;
    }
    test::TempDir cacheHome;
    test::ScopedEnv cache{"XDG_CACHE_HOME", cacheHome.path().string()};
    test::RunnerFixture f;
    Job job = f.job();
};

struct WorktreeCase {
    const char* name;
    const char* prepare; // makes the repository; the job folder is `folder` in it
    const char* folder;
    const char* work;   // what the run does in its folder
    const char* branch; // the branch's files, "path: content|…"; "" when none is made
};

// Worktrees go under this test's own cache folder.
class WorktreeHome : public testing::Test {
protected:
    test::TempDir home;
    test::ScopedEnv cache{"XDG_CACHE_HOME", (home / "cache").string()};
};

class RunWorktreeTest : public WorktreeHome, public testing::WithParamInterface<WorktreeCase> {};

TEST_P(RunWorktreeTest, ChangesLandOnABranchAndTheCheckoutStaysAsItWas) {
    const WorktreeCase& c = GetParam();
    fs::create_directories(home / "repo");
    sh(home / "repo", c.prepare);
    fs::path folder = home / "repo" / c.folder;
    auto before = snapshot(folder);

    RunWorktree::Opening opening = RunWorktree::open(folder, "Nightly Tidy!", startedAt);
    ASSERT_TRUE(opening.worktree) << opening.failure.value_or("no worktree");
    EXPECT_FALSE(opening.warning);
    fs::path working = opening.worktree->workingDirectory();
    EXPECT_TRUE(
        working.string().starts_with((home / "cache" / "Marrowbell" / "worktrees").string()))
        << working;
    EXPECT_FALSE(fs::exists(working / "uncommitted.txt")) << "the checkout's changes stay unseen";
    sh(working, c.work);
    std::string sentence = opening.worktree->finish("Marrowbell: Nightly Tidy, run 1");

    EXPECT_EQ(snapshot(folder), before);
    EXPECT_FALSE(fs::exists(working));
    std::string branch = RunWorktree::branchName("Nightly Tidy!", startedAt);
    EXPECT_TRUE(branch.starts_with("marrowbell/nightly-tidy/")) << branch;
    if (!*c.branch) {
        EXPECT_EQ(sentence, "The run changed nothing, so no branch was made.");
        return;
    }
    EXPECT_EQ(sentence, "The changes are on the branch " + branch + ".");
    EXPECT_EQ(sh(folder, "git log -1 --format='%an|%s' " + branch),
              "Marrowbell|Marrowbell: Nightly Tidy, run 1\n");
    std::string files =
        sh(folder, "git ls-tree -r --full-tree --name-only " + branch +
                       " | while read -r f; do printf '%s: %s|' \"$f\" \"$(git show " + branch +
                       ":$f)\"; done");
    EXPECT_EQ(files, c.branch + std::string("|"));
}

INSTANTIATE_TEST_SUITE_P(
    Repositories, RunWorktreeTest,
    testing::Values(
        WorktreeCase{
            "uncommittedChanges",
            "committed && echo 'edited, not committed' > kept.txt && echo mine > uncommitted.txt",
            "", "echo from the run > note.txt",
            "gone.txt: gone|kept.txt: kept|note.txt: from the run"},
        WorktreeCase{"detachedHead", "committed && git checkout -q --detach", "",
                     "echo from the run > note.txt",
                     "gone.txt: gone|kept.txt: kept|note.txt: from the run"},
        WorktreeCase{"emptyRepository", "git init -q -b main", "", "echo from the run > note.txt",
                     "note.txt: from the run"},
        WorktreeCase{"linkedWorktreeAsJobFolder", "committed && git worktree add -q linked",
                     "linked", "echo from the run > note.txt",
                     "gone.txt: gone|kept.txt: kept|note.txt: from the run"},
        WorktreeCase{
            "subfolderAsJobFolder",
            "committed && mkdir docs && echo docs > docs/index.md && git add -A && "
            "git commit -qm docs",
            "docs", "echo from the run > note.txt",
            "docs/index.md: docs|docs/note.txt: from the run|gone.txt: gone|kept.txt: kept"},
        WorktreeCase{"deletedFiles", "committed", "", "rm gone.txt", "kept.txt: kept"},
        WorktreeCase{"nestedRepository", "committed", "",
                     "git init -q inner && echo inner > inner/code.txt",
                     "gone.txt: gone|inner/code.txt: inner|kept.txt: kept"},
        WorktreeCase{"nothingChanged", "committed", "", "true", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WorktreeHome, ATakenBranchNameGetsANumberAndTwoRunsAtOnceGetTwoBranches) {
    fs::path repo = home / "repo";
    fs::create_directories(repo);
    std::string branch = RunWorktree::branchName("Tidy", startedAt);
    sh(repo, "committed && git branch " + branch);
    auto before = snapshot(repo);
    std::vector<std::string> sentences(2);
    std::vector<std::thread> runs;
    for (int i = 0; i < 2; ++i)
        runs.emplace_back([&, i] {
            RunWorktree::Opening opening = RunWorktree::open(repo, "Tidy", startedAt);
            ASSERT_TRUE(opening.worktree) << opening.failure.value_or("");
            test::writeFile(opening.worktree->workingDirectory() / "run.txt", std::to_string(i));
            sentences[i] = opening.worktree->finish("run " + std::to_string(i));
        });
    for (auto& run : runs)
        run.join();
    EXPECT_EQ(std::set(sentences.begin(), sentences.end()),
              (std::set<std::string>{"The changes are on the branch " + branch + "-2.",
                                     "The changes are on the branch " + branch + "-3."}));
    EXPECT_EQ(snapshot(repo), before);
    EXPECT_EQ(sh(repo, "git worktree list --porcelain").find("worktrees"), std::string::npos);
}

TEST_F(WorktreeHome, FoldersOutsideAWorkTreeAreLeftAlone) {
    sh(home.path(), "git init -q --bare bare.git && mkdir plain");
    for (const fs::path& folder : {home / "bare.git", home / "plain"}) {
        RunWorktree::Opening opening = RunWorktree::open(folder, "Tidy", startedAt);
        EXPECT_FALSE(opening.worktree || opening.warning || opening.failure) << folder;
        EXPECT_FALSE(RunWorktree::sharedGitFolder(folder));
    }
}

TEST_F(WorktreeHome, AnAbandonedWorktreeIsCommittedAndRemovedByTheNextStart) {
    fs::create_directories(home / "repo");
    sh(home / "repo", "committed");
    fs::path left;
    {
        RunWorktree::Opening opening = RunWorktree::open(home / "repo", "Crashy", startedAt);
        ASSERT_TRUE(opening.worktree);
        left = opening.worktree->workingDirectory();
        test::writeFile(left / "half.txt", "half done\n");
    } // gone without finishing, as when the process dies
    ASSERT_TRUE(fs::exists(left));
    RunWorktree::recoverAbandoned();
    EXPECT_FALSE(fs::exists(left));
    EXPECT_EQ(
        sh(home / "repo", "git show " + RunWorktree::branchName("Crashy", startedAt) + ":half.txt"),
        "half done\n");
}

// Finished or stopped at its limit (given time enough to write, even on a busy machine),
// the run's changes are committed and its summary names the branch.
TEST(RunWorktree, AScopedWriteJobRunsInTheWorktreeAndItsSummaryNamesTheBranch) {
    for (bool stopped : {false, true}) {
        WorktreeRun w(
            stopped ? "cat >/dev/null\necho made > made.txt\nexec sleep 30\n"
                    : "cat >/dev/null\necho made > made.txt\n"
                      "echo '{\"type\":\"result\",\"is_error\":false,\"result\":\"Done\"}'\n");
        if (stopped)
            w.job.limitOverrides.timeoutSeconds = 3;
        auto before = snapshot(w.f.folder / "work");
        RunRecord record = w.f.runner->run(w.job, std::nullopt, {}, startedAt, {});
        std::string branch = RunWorktree::branchName(w.job.name, startedAt);
        EXPECT_EQ(record.timedOut, stopped);
        EXPECT_TRUE(record.summary().ends_with((stopped ? ". " : "Done\n\n") +
                                               std::string("The changes are on the branch ") +
                                               branch + "."))
            << record.summary();
        EXPECT_EQ(snapshot(w.f.folder / "work"), before);
        EXPECT_EQ(sh(w.f.folder / "work", "git show " + branch + ":made.txt"), "made\n");
    }
}

TEST(RunWorktree, APreviewOfAConfinedRunLetsItWriteTheWorktreeAndTheGitFolder) {
    Json confined = test::standInSpec();
    confined["sandbox"] = {{"writablePaths", Json::array()}};
    WorktreeRun w(test::succeedingHarness, confined);
    sh(w.f.folder / "work", "git worktree add -q ../linked");
    w.job.workingDirectory = FileUrl::fromPath(w.f.folder / "linked", true);
    BuiltCommand preview = w.f.runner->preview(w.job, std::nullopt);
    ASSERT_EQ(preview.executable, SandboxProfile::executable());
    ASSERT_GE(preview.arguments.size(), 2u);
    const std::string& profile = preview.arguments[1];
    // The linked checkout's worktrees share the main repository's git folder.
    for (const fs::path& writable :
         {RunWorktree::pattern(w.job.name), w.f.folder / "work" / ".git"})
        EXPECT_NE(profile.find("(allow file-write* (subpath \"" + writable.string() + "\"))"),
                  std::string::npos)
            << writable << " in\n"
            << profile;
    EXPECT_EQ(profile.find("(subpath \"" + (w.f.folder / "linked").string()), std::string::npos)
        << "the user's checkout is none of the run's";
}

} // namespace
