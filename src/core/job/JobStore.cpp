#include "job/JobStore.h"

#include "base/Files.h"
#include "base/StoreError.h"
#include "base/SupportDirectory.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace marrowbell {

namespace fs = std::filesystem;

// Jobs hold prompts and paths the user may consider private.
static constexpr mode_t jobFileMode = 0600;

JobStore::JobStore(fs::path directory)
    : directory_(std::move(directory)) {
    files::createPrivateFolders(directory_);
    reload();
}

fs::path JobStore::defaultDirectory() {
    return SupportDirectory::url() / "Jobs";
}

static std::string inQuotes(const std::string& text) {
    return "\u201C" + text + "\u201D";
}

static bool isJobFileName(const fs::path& name) {
    return name.extension() == ".json";
}

// What one file of the folder holds: its job, or why it holds none (nothing when the
// file is gone). A file that is not a job is left on disk untouched, as the user or a
// newer version wrote it.
struct FileRead {
    std::optional<Job> job;
    std::string problem;
};

static FileRead readJobFile(const fs::path& path) {
    files::Content content = files::readBounded(path, JobStore::maxFileBytes);
    std::string why;
    switch (content.state) {
    case files::Content::State::read:
        if (auto value = json::parse(content.bytes)) {
            try {
                return {Job::fromJson(*value), {}};
            } catch (const std::exception& error) {
                why = error.what();
            }
        } else {
            why = "it is not JSON";
        }
        break;
    case files::Content::State::missing:
        return {}; // removed since it was listed
    case files::Content::State::notRegular:
        why = "it is not a regular file";
        break;
    case files::Content::State::tooLarge:
        why = "it is larger than 1 MiB";
        break;
    case files::Content::State::failed:
        why = content.error.message();
        break;
    }
    return {std::nullopt, path.string() + " was skipped: " + why + "."};
}

// Every "*.json" file of the folder that holds a job, in file-name order. Files that
// are not jobs are skipped, with the reason added to `problems` when given.
static std::vector<std::pair<fs::path, Job>> scan(const fs::path& directory,
                                                  std::vector<std::string>* problems) {
    std::vector<fs::path> candidates;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory))
        if (isJobFileName(entry.path()))
            candidates.push_back(entry.path());
    std::sort(candidates.begin(), candidates.end());
    std::vector<std::pair<fs::path, Job>> found;
    found.reserve(candidates.size());
    for (const fs::path& path : candidates) {
        FileRead read = readJobFile(path);
        if (read.job)
            found.emplace_back(path, std::move(*read.job));
        else if (problems && !read.problem.empty())
            problems->push_back(std::move(read.problem));
    }
    return found;
}

// A save or removal of this process between reading the files and taking the lock may
// have made what was read stale: it is read again, a few times at most.
static constexpr int staleReadRetries = 8;

IdChanges JobStore::reload() {
    for (int attempt = 0;; ++attempt) {
        std::uint64_t seen;
        {
            std::lock_guard lock(mutex_);
            seen = writes_;
        }
        std::vector<std::string> problems;
        std::unordered_map<Uuid, std::pair<fs::path, Job>> loaded;
        std::map<std::string, Uuid> sources;
        for (auto& [path, job] : scan(directory_, &problems)) {
            sources.insert_or_assign(path.filename().string(), job.id);
            auto it = loaded.find(job.id);
            if (it == loaded.end()) {
                Uuid id = job.id;
                loaded.try_emplace(id, std::move(path), std::move(job));
                continue;
            }
            // Two files with one identifier, such as a copy left by a file synchroniser:
            // the file named after the identifier wins, else the first by name.
            const bool canonical = path.filename() == fileFor(job.id).filename();
            const fs::path& kept = canonical ? path : it->second.first;
            const fs::path& ignored = canonical ? it->second.first : path;
            problems.push_back(ignored.string() + " holds the same job as " + kept.string() + " (" +
                               inQuotes(job.name) + ", " + job.id.text() + "); it is ignored.");
            if (canonical)
                it->second = {path, std::move(job)};
        }
        IdChanges changes;
        std::lock_guard lock(mutex_);
        if (writes_ != seen && attempt < staleReadRetries)
            continue;
        // Jobs that did not change keep their stored copy: a catch-up read of the whole
        // folder leaves the memory of the jobs as it was.
        std::erase_if(storage_, [&](const auto& entry) {
            if (loaded.contains(entry.first))
                return false;
            changes.removed.push_back(entry.first);
            return true;
        });
        for (auto& [id, entry] : loaded) {
            auto [stored, added] = storage_.try_emplace(id, std::move(entry.second));
            if (added) {
                changes.saved.push_back(id);
            } else if (stored->second != entry.second) {
                stored->second = std::move(entry.second);
                changes.saved.push_back(id);
            }
        }
        sources_ = std::move(sources);
        problems_ = std::move(problems);
        return changes;
    }
}

std::vector<std::string> JobStore::loadProblems() const {
    std::lock_guard lock(mutex_);
    return problems_;
}

IdChanges JobStore::reload(const std::vector<std::string>& names) {
    IdChanges changes;
    for (const std::string& name : names)
        if (isJobFileName(name))
            reloadFile(name, changes);
    return changes;
}

std::optional<std::string> JobStore::sourceOf(const Uuid& id) const {
    const std::string canonical = fileFor(id).filename().string();
    std::optional<std::string> first;
    for (const auto& [name, held] : sources_) {
        if (held != id)
            continue;
        if (name == canonical)
            return name;
        if (!first)
            first = name;
    }
    return first;
}

void JobStore::reloadFile(const std::string& name, IdChanges& changes) {
    for (int attempt = 0;; ++attempt) {
        std::uint64_t seen;
        {
            std::lock_guard lock(mutex_);
            seen = writes_;
        }
        std::optional<Job> job = readJobFile(directory_ / name).job;
        std::vector<std::string> others; // files whose job is now the one kept
        {
            std::lock_guard lock(mutex_);
            if (writes_ != seen && attempt < staleReadRetries)
                continue;
            std::optional<Uuid> before;
            std::optional<std::string> keptBefore;
            if (auto source = sources_.find(name); source != sources_.end()) {
                before = source->second;
                keptBefore = sourceOf(*before);
                sources_.erase(source);
            }
            if (job) {
                sources_.insert_or_assign(name, job->id);
                if (sourceOf(job->id) == name) {
                    auto [stored, added] = storage_.try_emplace(job->id, *job);
                    if (added || stored->second != *job) {
                        stored->second = *job;
                        changes.saved.push_back(job->id);
                    }
                }
            }
            if (before && (!job || job->id != *before || sourceOf(*before) != name)) {
                // This file's job is no longer the kept one; another file may hold it.
                if (std::optional<std::string> other = sourceOf(*before)) {
                    if (keptBefore == name)
                        others.push_back(*other);
                } else if (storage_.erase(*before) > 0) {
                    changes.removed.push_back(*before);
                }
            }
        }
        for (const std::string& other : others)
            reloadFile(other, changes);
        return;
    }
}

std::vector<Job> JobStore::jobs() const {
    std::vector<Job> all;
    {
        std::lock_guard lock(mutex_);
        all.reserve(storage_.size());
        for (const auto& [id, job] : storage_)
            all.push_back(job);
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const Job& a, const Job& b) { return a.createdAt < b.createdAt; });
    return all;
}

std::optional<Job> JobStore::job(const Uuid& id) const {
    std::lock_guard lock(mutex_);
    auto it = storage_.find(id);
    if (it == storage_.end())
        return std::nullopt;
    return it->second;
}

fs::path JobStore::fileFor(const Uuid& id) const {
    return directory_ / (id.text() + ".json");
}

void JobStore::save(const Job& job) {
    try {
        files::writeAtomically(fileFor(job.id), json::pretty(job.toJson()), jobFileMode);
    } catch (const std::system_error& error) {
        throw StoreError::couldNotSave("the job " + inQuotes(job.name), error.code());
    }
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        ++writes_;
        sources_.insert_or_assign(fileFor(job.id).filename().string(), job.id);
        auto [stored, added] = storage_.try_emplace(job.id, job);
        changed = added || stored->second != job;
        stored->second = job;
    }
    if (changed)
        notify({{job.id}, {}});
}

// The folder is read again: a copy made since this store loaded is a file of the job too.
void JobStore::remove(const Uuid& id) {
    std::vector<fs::path> targets;
    std::error_code ignored;
    if (fs::symlink_status(fileFor(id), ignored).type() != fs::file_type::not_found)
        targets.push_back(fileFor(id));
    try {
        for (const auto& [path, job] : scan(directory_, nullptr))
            if (job.id == id && path != fileFor(id))
                targets.push_back(path);
    } catch (const fs::filesystem_error& error) {
        throw StoreError(error.code(), "Could not delete the job \u2014 cannot list " +
                                           directory_.string() + ": " + error.code().message());
    }
    std::string failures;
    std::error_code firstError;
    for (const fs::path& path : targets) {
        if (::unlink(path.c_str()) == 0 || errno == ENOENT)
            continue;
        std::error_code error(errno, std::generic_category());
        if (!firstError)
            firstError = error;
        failures += (failures.empty() ? "" : "; ") + path.string() + ": " + error.message();
    }
    if (firstError)
        throw StoreError(firstError, "Could not delete every file of the job \u2014 " + failures);
    bool removed = false;
    {
        std::lock_guard lock(mutex_);
        ++writes_;
        std::erase_if(sources_, [&](const auto& source) { return source.second == id; });
        removed = storage_.erase(id) > 0;
    }
    if (removed)
        notify({{}, {id}});
}

Subscription JobStore::subscribe(ObserverList<IdChanges>::Observer observer, Executor executor) {
    return observers_.subscribe(std::move(observer), std::move(executor));
}

void JobStore::notify(const IdChanges& changes) {
    if (!changes.empty())
        observers_.notify(changes);
}

void JobStore::follow(FileWatcher& watcher) {
    following_ = watcher.watch(directory_, [this](const FileWatcher::Changes& changes) {
        notify(changes.overflowed ? reload() : reload(changes.names));
    });
}

} // namespace marrowbell
