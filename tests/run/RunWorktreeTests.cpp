#include "base/Files.h"
#include "harness/SandboxProfile.h"
#include "run/JobRunnerTestSupport.h"
#include "run/RunWorktree.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <thread>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

const Instant startedAt = Instant::fromUnix(1796600000);

std::string git(const fs::path& folder, const std::vector<std::string>& arguments) {
    std::vector<std::string> command{"/usr/bin/git",
                                     "-C",
                                     folder.string(),
                                     "-c",
                                     "user.name=Tester",
                                     "-c",
                                     "user.email=t@example.invalid"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    test::ProcessResult result = test::runProcess(command);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
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

// A repository with one commit holding "kept.txt" and "gone.txt".
void committedRepository(const fs::path& folder) {
    git(folder, {"init", "-q", "-b", "main"});
    test::writeFile(folder / "kept.txt", "kept\n");
    test::writeFile(folder / "gone.txt", "gone\n");
    git(folder, {"add", "-A"});
    git(folder, {"commit", "-q", "-m", "first"});
}

struct WorktreeCase {
    const char* name;
    // Makes the repository in the folder; returns the job folder.
    std::function<fs::path(const fs::path&)> prepare;
    // What the run does in its working folder.
    std::function<void(const fs::path&)> work;
    // The branch's files afterwards ("" for none made), checked with `git show`.
    std::map<std::string, std::string> onBranch;
    std::vector<std::string> notOnBranch;
};

class RunWorktreeTest : public testing::TestWithParam<WorktreeCase> {
protected:
    test::TempDir home;
    test::ScopedEnv cache{"XDG_CACHE_HOME", (home / "cache").string()};
};

TEST_P(RunWorktreeTest, ChangesLandOnABranchAndTheCheckoutStaysAsItWas) {
    fs::path repository = home / "repo";
    fs::create_directories(repository);
    fs::path folder = GetParam().prepare(repository);
    auto before = snapshot(folder);

    RunWorktree::Opening opening = RunWorktree::open(folder, "Nightly Tidy!", startedAt);
    ASSERT_TRUE(opening.worktree) << opening.failure.value_or("no worktree");
    EXPECT_FALSE(opening.warning);
    fs::path working = opening.worktree->workingDirectory();
    EXPECT_TRUE(
        working.string().starts_with((home / "cache" / "Marrowbell" / "worktrees").string()))
        << working;
    EXPECT_FALSE(fs::exists(working / "uncommitted.txt")) << "the checkout's changes stay unseen";
    GetParam().work(working);
    std::string sentence = opening.worktree->finish("Marrowbell: Nightly Tidy, run 1");

    EXPECT_EQ(snapshot(folder), before);
    EXPECT_FALSE(fs::exists(working));
    std::string branch = RunWorktree::branchName("Nightly Tidy!", startedAt);
    EXPECT_TRUE(branch.starts_with("marrowbell/nightly-tidy/")) << branch;
    if (GetParam().onBranch.empty()) {
        EXPECT_EQ(sentence, "The run changed nothing, so no branch was made.");
        return;
    }
    std::string made = git(folder, {"branch", "--list", "marrowbell/*", "--sort=-committerdate",
                                    "--format=%(refname:short)"});
    made = made.substr(0, made.find('\n'));
    EXPECT_EQ(sentence, "The changes are on the branch " + made + ".");
    EXPECT_EQ(git(folder, {"log", "-1", "--format=%an|%s", made}),
              "Marrowbell|Marrowbell: Nightly Tidy, run 1\n");
    for (const auto& [path, content] : GetParam().onBranch)
        EXPECT_EQ(git(folder, {"show", made + ":" + path}), content) << path;
    for (const std::string& path : GetParam().notOnBranch)
        EXPECT_NE(test::runProcess(
                      {"/usr/bin/git", "-C", folder.string(), "cat-file", "-e", made + ":" + path})
                      .exitStatus,
                  0)
            << path;
}

void writeNote(const fs::path& working) {
    test::writeFile(working / "note.txt", "from the run\n");
}

INSTANTIATE_TEST_SUITE_P(
    Repositories, RunWorktreeTest,
    testing::Values(WorktreeCase{"uncommittedChanges",
                                 [](const fs::path& repo) {
                                     committedRepository(repo);
                                     test::writeFile(repo / "kept.txt", "edited, not committed\n");
                                     test::writeFile(repo / "uncommitted.txt", "mine\n");
                                     return repo;
                                 },
                                 writeNote,
                                 {{"note.txt", "from the run\n"}, {"kept.txt", "kept\n"}},
                                 {"uncommitted.txt"}},
                    WorktreeCase{"detachedHead",
                                 [](const fs::path& repo) {
                                     committedRepository(repo);
                                     git(repo, {"checkout", "-q", "--detach"});
                                     return repo;
                                 },
                                 writeNote,
                                 {{"note.txt", "from the run\n"}},
                                 {}},
                    WorktreeCase{"emptyRepository",
                                 [](const fs::path& repo) {
                                     git(repo, {"init", "-q", "-b", "main"});
                                     return repo;
                                 },
                                 writeNote,
                                 {{"note.txt", "from the run\n"}},
                                 {}},
                    WorktreeCase{
                        "linkedWorktreeAsJobFolder",
                        [](const fs::path& repo) {
                            committedRepository(repo);
                            git(repo, {"worktree", "add", "-q", (repo / "linked").string()});
                            return repo / "linked";
                        },
                        writeNote,
                        {{"note.txt", "from the run\n"}},
                        {}},
                    WorktreeCase{"subfolderAsJobFolder",
                                 [](const fs::path& repo) {
                                     committedRepository(repo);
                                     test::writeFile(repo / "docs" / "index.md", "docs\n");
                                     git(repo, {"add", "-A"});
                                     git(repo, {"commit", "-q", "-m", "docs"});
                                     return repo / "docs";
                                 },
                                 writeNote,
                                 {{"docs/note.txt", "from the run\n"}},
                                 {}},
                    WorktreeCase{"deletedFiles",
                                 [](const fs::path& repo) {
                                     committedRepository(repo);
                                     return repo;
                                 },
                                 [](const fs::path& working) { fs::remove(working / "gone.txt"); },
                                 {{"kept.txt", "kept\n"}},
                                 {"gone.txt"}},
                    WorktreeCase{"nestedRepository",
                                 [](const fs::path& repo) {
                                     committedRepository(repo);
                                     return repo;
                                 },
                                 [](const fs::path& working) {
                                     git(working, {"init", "-q", "inner"});
                                     test::writeFile(working / "inner" / "code.txt", "inner\n");
                                 },
                                 {{"inner/code.txt", "inner\n"}},
                                 {"inner/.git"}},
                    WorktreeCase{"nothingChanged",
                                 [](const fs::path& repo) {
                                     committedRepository(repo);
                                     return repo;
                                 },
                                 [](const fs::path&) {},
                                 {},
                                 {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RunWorktree, ATakenBranchNameGetsANumberAndTwoRunsAtOnceGetTwoBranches) {
    test::TempDir home;
    test::ScopedEnv cache("XDG_CACHE_HOME", (home / "cache").string());
    fs::path repo = home / "repo";
    fs::create_directories(repo);
    committedRepository(repo);
    std::string branch = RunWorktree::branchName("Tidy", startedAt);
    git(repo, {"branch", branch});
    auto before = snapshot(repo);

    std::vector<std::string> sentences(2);
    std::vector<std::thread> runs;
    for (int i = 0; i < 2; ++i)
        runs.emplace_back([&, i] {
            RunWorktree::Opening opening = RunWorktree::open(repo, "Tidy", startedAt);
            ASSERT_TRUE(opening.worktree);
            test::writeFile(opening.worktree->workingDirectory() / "run.txt",
                            std::to_string(i) + "\n");
            sentences[i] = opening.worktree->finish("run " + std::to_string(i));
        });
    for (auto& run : runs)
        run.join();
    std::set<std::string> said(sentences.begin(), sentences.end());
    EXPECT_EQ(said, (std::set<std::string>{"The changes are on the branch " + branch + "-2.",
                                           "The changes are on the branch " + branch + "-3."}));
    EXPECT_EQ(snapshot(repo), before);
    EXPECT_EQ(git(repo, {"worktree", "list", "--porcelain"}).find("worktrees"), std::string::npos);
}

TEST(RunWorktree, FoldersOutsideAWorkTreeAreLeftAlone) {
    test::TempDir home;
    test::ScopedEnv cache("XDG_CACHE_HOME", (home / "cache").string());
    git(home.path(), {"init", "-q", "--bare", "bare.git"});
    fs::create_directories(home / "plain");
    for (const fs::path& folder : {home / "bare.git", home / "plain"}) {
        RunWorktree::Opening opening = RunWorktree::open(folder, "Tidy", startedAt);
        EXPECT_FALSE(opening.worktree || opening.warning || opening.failure) << folder;
        EXPECT_FALSE(RunWorktree::sharedGitFolder(folder));
    }
}

TEST(RunWorktree, AnAbandonedWorktreeIsCommittedAndRemovedByTheNextStart) {
    test::TempDir home;
    test::ScopedEnv cache("XDG_CACHE_HOME", (home / "cache").string());
    fs::path repo = home / "repo";
    fs::create_directories(repo);
    committedRepository(repo);
    fs::path left;
    {
        RunWorktree::Opening opening = RunWorktree::open(repo, "Crashy", startedAt);
        ASSERT_TRUE(opening.worktree);
        left = opening.worktree->workingDirectory();
        test::writeFile(left / "half.txt", "half done\n");
        // Gone without finishing, as when the process dies.
    }
    ASSERT_TRUE(fs::exists(left));
    RunWorktree::recoverAbandoned();
    EXPECT_FALSE(fs::exists(left));
    std::string branch = RunWorktree::branchName("Crashy", startedAt);
    EXPECT_EQ(git(repo, {"show", branch + ":half.txt"}), "half done\n");
}

TEST(RunWorktree, AScopedWriteJobRunsInTheWorktreeAndItsSummaryNamesTheBranch) {
    test::TempDir cacheHome;
    test::ScopedEnv cache("XDG_CACHE_HOME", cacheHome.path().string());
    test::RunnerFixture f("cat >/dev/null\n"
                          "echo made > \"$PWD/made.txt\"\n"
                          "echo '{\"type\":\"result\",\"subtype\":\"success\",\"is_error\":false,"
                          "\"result\":\"Done\"}'\n");
    committedRepository(f.folder / "work");
    Job job = f.job();
    job.permission = PermissionLevel::scopedWrite;
    auto before = snapshot(f.folder / "work");
    RunRecord record = f.runner->run(job, std::nullopt, {}, startedAt, {});
    EXPECT_TRUE(record.succeeded()) << record.summary();
    std::string branch = RunWorktree::branchName(job.name, startedAt);
    EXPECT_EQ(record.summary(), "Done\n\nThe changes are on the branch " + branch + ".");
    EXPECT_EQ(snapshot(f.folder / "work"), before);
    EXPECT_EQ(git(f.folder / "work", {"show", branch + ":made.txt"}), "made\n");
}

TEST(RunWorktree, APreviewOfAConfinedRunLetsItWriteTheWorktreeAndTheGitFolder) {
    test::TempDir cacheHome;
    test::ScopedEnv cache("XDG_CACHE_HOME", cacheHome.path().string());
    Json confined = test::standInSpec();
    confined["sandbox"] = {{"writablePaths", Json::array()}};
    test::RunnerFixture f(test::succeedingHarness, confined);
    committedRepository(f.folder / "work");
    git(f.folder / "work", {"worktree", "add", "-q", (f.folder / "linked").string()});
    Job job = f.job();
    job.permission = PermissionLevel::scopedWrite;
    job.workingDirectory = FileUrl::fromPath(f.folder / "linked", true);

    BuiltCommand preview = f.runner->preview(job, std::nullopt);
    ASSERT_EQ(preview.executable, SandboxProfile::executable());
    ASSERT_GE(preview.arguments.size(), 2u);
    const std::string& profile = preview.arguments[1];
    // The linked checkout's worktrees share the main repository's git folder.
    for (const fs::path& writable : {RunWorktree::pattern(job.name), f.folder / "work" / ".git"})
        EXPECT_NE(profile.find("(allow file-write* (subpath \"" + writable.string() + "\"))"),
                  std::string::npos)
            << writable << " in\n"
            << profile;
    EXPECT_EQ(profile.find("(subpath \"" + (f.folder / "linked").string()), std::string::npos)
        << "the user's checkout is none of the run's";
}

} // namespace

namespace {

TEST(RunWorktree, ARunStoppedAtItsLimitStillCommitsWhatItWrote) {
    test::TempDir cacheHome;
    test::ScopedEnv cache("XDG_CACHE_HOME", cacheHome.path().string());
    test::RunnerFixture f("cat >/dev/null\necho half > \"$PWD/half.txt\"\nexec sleep 30\n");
    committedRepository(f.folder / "work");
    Job job = f.job();
    job.permission = PermissionLevel::scopedWrite;
    job.limitOverrides.timeoutSeconds = 3; // time enough to write, even on a busy machine
    RunRecord record = f.runner->run(job, std::nullopt, {}, startedAt, {});
    EXPECT_TRUE(record.timedOut);
    std::string branch = RunWorktree::branchName(job.name, startedAt);
    ASSERT_TRUE(record.failureMessage);
    EXPECT_TRUE(record.failureMessage->ends_with(". The changes are on the branch " + branch + "."))
        << *record.failureMessage;
    EXPECT_EQ(git(f.folder / "work", {"show", branch + ":half.txt"}), "half\n");
    EXPECT_FALSE(fs::exists(f.folder / "work" / "half.txt"));
}

} // namespace
