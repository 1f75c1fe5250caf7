#include "job/JobStore.h"

#include "base/Files.h"
#include "base/SupportDirectory.h"

#include <algorithm>

namespace marrowbell {

namespace fs = std::filesystem;

// Jobs hold prompts and paths the user may consider private.
static constexpr mode_t jobFileMode = 0600;

JobStore::JobStore(fs::path directory)
    : directory_(std::move(directory)) {
    if (fs::create_directories(directory_))
        fs::permissions(directory_, fs::perms::owner_all, fs::perm_options::replace);
    reload();
}

fs::path JobStore::defaultDirectory() {
    return SupportDirectory::url() / "Jobs";
}

// The job one file holds; none when it cannot be read or decoded. Such a file is left
// on disk untouched, as the user or a newer version wrote it.
static std::optional<Job> readJob(const fs::path& path) {
    auto bytes = files::read(path);
    if (!bytes)
        return std::nullopt;
    auto value = json::parse(*bytes);
    if (!value)
        return std::nullopt;
    try {
        return Job::fromJson(*value);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

static bool isJobFileName(const fs::path& name) {
    return name.extension() == ".json";
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
        std::vector<fs::path> candidates;
        for (const fs::directory_entry& entry : fs::directory_iterator(directory_))
            if (isJobFileName(entry.path()))
                candidates.push_back(entry.path());
        std::unordered_map<Uuid, Job> loaded;
        std::unordered_map<std::string, Uuid> sources;
        for (const fs::path& path : candidates) {
            std::optional<Job> job = readJob(path);
            if (!job)
                continue;
            sources.insert_or_assign(path.filename().string(), job->id);
            loaded.insert_or_assign(job->id, std::move(*job));
        }
        IdChanges changes;
        std::lock_guard lock(mutex_);
        if (writes_ != seen && attempt < staleReadRetries)
            continue;
        for (const auto& [id, job] : loaded)
            if (auto old = storage_.find(id); old == storage_.end() || old->second != job)
                changes.saved.push_back(id);
        for (const auto& [id, job] : storage_)
            if (!loaded.contains(id))
                changes.removed.push_back(id);
        storage_ = std::move(loaded);
        sources_ = std::move(sources);
        return changes;
    }
}

IdChanges JobStore::reload(const std::vector<std::string>& names) {
    IdChanges changes;
    for (const std::string& name : names)
        if (isJobFileName(name))
            reloadFile(name, changes);
    return changes;
}

void JobStore::reloadFile(const std::string& name, IdChanges& changes) {
    for (int attempt = 0;; ++attempt) {
        std::uint64_t seen;
        {
            std::lock_guard lock(mutex_);
            seen = writes_;
        }
        std::optional<Job> job = readJob(directory_ / name);
        std::optional<std::string> otherSource;
        {
            std::lock_guard lock(mutex_);
            if (writes_ != seen && attempt < staleReadRetries)
                continue;
            std::optional<Uuid> before;
            if (auto source = sources_.find(name); source != sources_.end()) {
                before = source->second;
                sources_.erase(source);
            }
            if (job) {
                sources_.insert_or_assign(name, job->id);
                auto [stored, added] = storage_.try_emplace(job->id, *job);
                if (added || stored->second != *job) {
                    stored->second = *job;
                    changes.saved.push_back(job->id);
                }
            }
            if (before && (!job || job->id != *before)) {
                // The file no longer holds that job; another file may still hold it.
                auto other =
                    std::find_if(sources_.begin(), sources_.end(),
                                 [&](const auto& source) { return source.second == *before; });
                if (other != sources_.end())
                    otherSource = other->first;
                else if (storage_.erase(*before) > 0)
                    changes.removed.push_back(*before);
            }
        }
        if (otherSource)
            reloadFile(*otherSource, changes);
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
    files::writeAtomically(fileFor(job.id), json::pretty(job.toJson()), jobFileMode);
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

void JobStore::remove(const Uuid& id) {
    const fs::path path = fileFor(id);
    std::error_code error;
    if (fs::symlink_status(path, error).type() != fs::file_type::not_found)
        fs::remove(path);
    bool removed = false;
    {
        std::lock_guard lock(mutex_);
        ++writes_;
        sources_.erase(path.filename().string());
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
