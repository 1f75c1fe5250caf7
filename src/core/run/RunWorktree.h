#pragma once

#include "base/Instant.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace marrowbell {

// A scoped-write run's own checkout of a repository: a git worktree of the current
// HEAD outside the user's checkout, under "{cache}/worktrees", so the user's working
// tree and its uncommitted changes are neither seen nor touched. When the run ends,
// whatever it changed is committed (author "Marrowbell") to a new branch
// "marrowbell/{job-slug}/{yyyy-mm-dd-hhmm}" and the worktree is removed.
class RunWorktree {
public:
    // What `open` made of a job folder.
    struct Opening {
        // Set when the folder lies in a git work tree and the worktree was made.
        std::unique_ptr<RunWorktree> worktree;
        // For the user, when the run goes ahead in the folder itself (git missing).
        std::optional<std::string> warning;
        // Why the run cannot go ahead (a repository whose worktree could not be made).
        std::optional<std::string> failure;
    };

    // A folder outside any work tree (a bare repository too) gives neither worktree
    // nor warning: the run works in the folder as it is.
    static Opening open(const std::filesystem::path& folder, const std::string& jobName,
                        Instant now);

    // The git folder a worktree for `folder` would share with the user's checkout, which
    // the run's git writes: set exactly when `open` would make a worktree, that is when
    // `folder` lies in a git work tree and git is installed.
    static std::optional<std::filesystem::path>
    sharedGitFolder(const std::filesystem::path& folder);
    static bool wouldUse(const std::filesystem::path& folder) {
        return sharedGitFolder(folder).has_value();
    }

    // Commits any worktrees left by runs that ended without finishing (a crash), each
    // to its own branch, and removes them. Worktrees of runs still going are left.
    static void recoverAbandoned();

    // "{cache}/worktrees/{job-slug}-{stamp}-{random}", the pattern of `path`.
    static std::filesystem::path pattern(const std::string& jobName);

    // "marrowbell/{job-slug}/{yyyy-mm-dd-hhmm}" in the local time zone.
    static std::string branchName(const std::string& jobName, Instant now);

    ~RunWorktree();
    RunWorktree(const RunWorktree&) = delete;
    RunWorktree& operator=(const RunWorktree&) = delete;

    // Where the run works: the job folder's place inside the worktree.
    const std::filesystem::path& workingDirectory() const { return workingDirectory_; }
    // The repository's git folder, which git inside the worktree writes.
    const std::filesystem::path& gitFolder() const { return gitFolder_; }

    // Commits every change to the branch (a fresh name when taken), removes the
    // worktree and says, as one sentence, which branch holds the changes or that there
    // were none; on a failure, what was kept and where.
    std::string finish(const std::string& runDescription);

private:
    RunWorktree() = default;

    std::filesystem::path git_;
    std::filesystem::path root_;
    std::filesystem::path workingDirectory_;
    std::filesystem::path gitFolder_;
    std::string branch_;
    int lock_ = -1;
    bool finished_ = false;
};

} // namespace marrowbell
