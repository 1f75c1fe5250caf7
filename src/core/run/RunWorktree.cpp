#include "run/RunWorktree.h"

#include "base/HomeFolder.h"
#include "harness/ChildProcess.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <unistd.h>

namespace marrowbell {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> gitExecutable() {
    for (const char* candidate : {"/usr/bin/git", "/bin/git", "/usr/local/bin/git"})
        if (isExecutableFile(candidate))
            return fs::path(candidate);
    return std::nullopt;
}

// Runs git with a fixed, small environment; its standard output, none when it failed.
// Commits are made as "Marrowbell", never signed, and no hook of the repository runs.
std::optional<std::string> git(const fs::path& executable, const fs::path& folder,
                               std::vector<std::string> arguments) {
    ChildProcess process;
    process.executable = executable;
    process.arguments = {"-C", folder.string(),
                         "-c", "user.name=Marrowbell",
                         "-c", "user.email=marrowbell@localhost",
                         "-c", "commit.gpgsign=false",
                         "-c", "core.hooksPath=/dev/null"};
    process.arguments.insert(process.arguments.end(), arguments.begin(), arguments.end());
    std::map<std::string, std::string> environment{{"PATH", "/usr/bin:/bin"},
                                                   {"LANG", "C"},
                                                   {"GIT_TERMINAL_PROMPT", "0"},
                                                   {"HOME", homeFolder()}};
    process.environment = environment;
    process.timeout = 300;
    ChildProcess::Result result = process.run();
    if (!result.started || result.timedOut || result.exitStatus != 0)
        return std::nullopt;
    return result.output;
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

std::string slug(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (std::isalnum(c) && c < 0x80)
            out += static_cast<char>(std::tolower(c));
        else if (!out.empty() && out.back() != '-')
            out += '-';
        if (out.size() >= 40)
            break;
    }
    while (!out.empty() && out.back() == '-')
        out.pop_back();
    return out.empty() ? "job" : out;
}

std::string stamp(Instant now) {
    auto seconds = static_cast<std::time_t>(now.unixSeconds());
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d-%H%M", &local);
    return text;
}

fs::path worktreesFolder() {
    return fs::path(cacheFolder()) / "worktrees";
}

// Holds an exclusive lock on `path` (created if need be); -1 when it cannot be opened
// or, unless told to wait for it, another holds it.
int lockExclusively(const fs::path& path, bool wait = false) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    int locked;
    while ((locked = ::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (locked != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

fs::path lockPath(const fs::path& worktree) {
    return worktree.string() + ".lock";
}

// git's worktree commands race each other in one repository: an `add` reads every
// other worktree's entry and fails on one that another `add` is still writing. So
// this system's worktree commands take turns, across its processes.
class WorktreeCommandTurn {
public:
    WorktreeCommandTurn()
        : fd_(lockExclusively(worktreesFolder() / "commands.lock", /*wait=*/true)) {}
    ~WorktreeCommandTurn() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    WorktreeCommandTurn(const WorktreeCommandTurn&) = delete;
    WorktreeCommandTurn& operator=(const WorktreeCommandTurn&) = delete;

private:
    int fd_;
};

} // namespace

fs::path RunWorktree::pattern(const std::string& jobName) {
    return worktreesFolder() / (slug(jobName) + "-{yyyy-mm-dd-hhmm}-{random}");
}

std::string RunWorktree::branchName(const std::string& jobName, Instant now) {
    return "marrowbell/" + slug(jobName) + "/" + stamp(now);
}

std::optional<fs::path> RunWorktree::sharedGitFolder(const fs::path& folder) {
    std::optional<fs::path> executable = gitExecutable();
    if (!executable)
        return std::nullopt;
    auto answer =
        git(*executable, folder,
            {"rev-parse", "--is-inside-work-tree", "--path-format=absolute", "--git-common-dir"});
    if (!answer || !answer->starts_with("true\n"))
        return std::nullopt;
    std::string common = firstLine(answer->substr(5));
    if (common.empty())
        return std::nullopt;
    return fs::path(common);
}

RunWorktree::Opening RunWorktree::open(const fs::path& folder, const std::string& jobName,
                                       Instant now) {
    Opening opening;
    std::optional<fs::path> executable = gitExecutable();
    if (!executable) {
        std::error_code error;
        for (fs::path at = fs::absolute(folder, error); !at.empty(); at = at.parent_path()) {
            if (fs::exists(at / ".git", error)) {
                opening.warning = "git is not installed, so this scoped-write run works in the "
                                  "repository's own checkout rather than in a worktree of its own.";
                break;
            }
            if (at == at.root_path())
                break;
        }
        return opening;
    }
    std::optional<fs::path> gitFolder = sharedGitFolder(folder);
    if (!gitFolder)
        return opening;

    auto failed = [&](const std::string& what) {
        opening.failure = "Could not make a worktree of " + folder.string() + " for this run (" +
                          what +
                          "), so it did not start: a scoped-write run never works in "
                          "the repository's own checkout.";
        return std::move(opening);
    };
    auto top = git(*executable, folder, {"rev-parse", "--show-toplevel"});
    if (!top)
        return failed("git could not name the repository's folders");
    fs::path topLevel = firstLine(*top);
    std::error_code error;
    fs::path relative =
        fs::relative(fs::canonical(folder, error), fs::canonical(topLevel, error), error);
    if (error || relative.string().starts_with(".."))
        relative.clear();

    // An empty repository has no HEAD to check out: start from an empty commit, made
    // as an object only (no branch of the user's moves).
    std::string commit;
    if (auto head = git(*executable, folder, {"rev-parse", "--verify", "-q", "HEAD^{commit}"}))
        commit = firstLine(*head);
    else if (auto tree = git(*executable, folder, {"mktree"}))
        if (auto root = git(*executable, folder,
                            {"commit-tree", firstLine(*tree), "-m", "Empty starting point"}))
            commit = firstLine(*root);
    if (commit.empty())
        return failed("no commit to start from");

    fs::create_directories(worktreesFolder(), error);
    std::unique_ptr<RunWorktree> worktree(new RunWorktree);
    std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 8 && worktree->lock_ < 0; ++attempt) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "%06x", static_cast<unsigned>(random() & 0xffffff));
        fs::path candidate = worktreesFolder() / (slug(jobName) + "-" + stamp(now) + "-" + suffix);
        if (fs::exists(candidate, error))
            continue;
        // Locked before it exists, so a recovery running elsewhere never takes it.
        worktree->lock_ = lockExclusively(lockPath(candidate));
        if (worktree->lock_ >= 0)
            worktree->root_ = candidate;
    }
    if (worktree->lock_ < 0)
        return failed("no free folder in " + worktreesFolder().string());
    worktree->git_ = *executable;
    worktree->gitFolder_ = *gitFolder;
    worktree->branch_ = branchName(jobName, now);
    if (WorktreeCommandTurn turn;
        !git(*executable, topLevel,
             {"worktree", "add", "-q", "--detach", worktree->root_.string(), commit})) {
        worktree->finished_ = true;
        return failed("git worktree add failed");
    }
    worktree->workingDirectory_ = relative.empty() ? worktree->root_ : worktree->root_ / relative;
    fs::create_directories(worktree->workingDirectory_, error);
    opening.worktree = std::move(worktree);
    return opening;
}

std::string RunWorktree::finish(const std::string& runDescription) {
    finished_ = true;
    std::error_code error;
    // A repository the run made inside its worktree would be recorded as a bare link to
    // history that goes away with the worktree; its files are committed instead.
    std::vector<fs::path> nested;
    for (auto it = fs::recursive_directory_iterator(root_, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error))
        if (it->path().filename() == ".git" && it->path().parent_path() != root_) {
            nested.push_back(it->path());
            if (it->is_directory(error))
                it.disable_recursion_pending();
        }
    for (const fs::path& path : nested)
        fs::remove_all(path, error);

    const std::string kept = " They are kept in " + root_.string() + ".";
    if (!git(git_, root_, {"add", "-A"}))
        return "Could not stage the run's changes." + kept;
    auto status = git(git_, root_, {"status", "--porcelain"});
    if (!status)
        return "Could not list the run's changes." + kept;
    std::string sentence;
    if (status->empty()) {
        sentence = "The run changed nothing, so no branch was made.";
    } else {
        if (!git(git_, root_, {"commit", "-q", "--no-verify", "-m", runDescription}))
            return "Could not commit the run's changes." + kept;
        // Creating the branch is what claims its name, so two runs of one minute
        // never take the same one.
        std::string branch = branch_;
        for (int n = 2; !git(git_, root_, {"branch", branch}); ++n) {
            if (n > 100)
                return "Could not make a branch " + branch_ + " for the run's changes." + kept;
            branch = branch_ + "-" + std::to_string(n);
        }
        sentence = "The changes are on the branch " + branch + ".";
    }
    WorktreeCommandTurn turn;
    git(git_, gitFolder_, {"worktree", "remove", "--force", root_.string()});
    fs::remove_all(root_, error);
    git(git_, gitFolder_, {"worktree", "prune"});
    return sentence;
}

RunWorktree::~RunWorktree() {
    if (lock_ >= 0) {
        // Removed only when finished; otherwise recovery takes the worktree over later.
        if (finished_)
            ::unlink(lockPath(root_).c_str());
        ::close(lock_);
    }
}

void RunWorktree::recoverAbandoned() {
    std::optional<fs::path> executable = gitExecutable();
    std::error_code error;
    if (!executable || !fs::is_directory(worktreesFolder(), error))
        return;
    std::vector<fs::path> folders;
    for (const auto& entry : fs::directory_iterator(worktreesFolder(), error))
        if (entry.is_directory(error))
            folders.push_back(entry.path());
    for (const fs::path& folder : folders) {
        std::unique_ptr<RunWorktree> worktree(new RunWorktree);
        worktree->lock_ = lockExclusively(lockPath(folder));
        if (worktree->lock_ < 0)
            continue; // a run in progress
        worktree->root_ = folder;
        worktree->git_ = *executable;
        std::optional<fs::path> gitFolder = sharedGitFolder(folder);
        // "{slug}-{yyyy-mm-dd-hhmm}-{random}" names the job and the minute it started.
        std::string name = folder.filename().string();
        if (!gitFolder || name.size() < 24) {
            worktree->finished_ = true;
            fs::remove_all(folder, error);
            continue;
        }
        worktree->gitFolder_ = *gitFolder;
        std::string jobSlug = name.substr(0, name.size() - 23);
        worktree->branch_ = "marrowbell/" + jobSlug + "/" + name.substr(name.size() - 22, 15);
        worktree->finish("Marrowbell: what an interrupted run of " + jobSlug + " left");
    }
}

} // namespace marrowbell
