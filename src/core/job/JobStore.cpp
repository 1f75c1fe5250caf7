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

void JobStore::reload() {
    std::vector<fs::path> candidates;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory_))
        if (entry.path().extension() == ".json")
            candidates.push_back(entry.path());
    std::unordered_map<Uuid, Job> loaded;
    for (const fs::path& path : candidates) {
        auto bytes = files::read(path);
        if (!bytes)
            continue;
        auto value = json::parse(*bytes);
        if (!value)
            continue;
        try {
            Job job = Job::fromJson(*value);
            loaded.insert_or_assign(job.id, std::move(job));
        } catch (const std::exception&) {
            // Undecodable: left on disk untouched, as the user or a newer version wrote it.
        }
    }
    std::lock_guard lock(mutex_);
    storage_ = std::move(loaded);
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
    std::lock_guard lock(mutex_);
    storage_.insert_or_assign(job.id, job);
}

void JobStore::remove(const Uuid& id) {
    const fs::path path = fileFor(id);
    std::error_code error;
    if (fs::symlink_status(path, error).type() != fs::file_type::not_found)
        fs::remove(path);
    std::lock_guard lock(mutex_);
    storage_.erase(id);
}

} // namespace marrowbell
