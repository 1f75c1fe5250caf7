#pragma once

#include "base/Uuid.h"
#include "job/Job.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace marrowbell {

// The jobs, one JSON file per job ("{UUID}.json") in one folder, read once when the
// store is made and kept in memory. Shared by reference; safe to use from any thread.
// Files that cannot be read or decoded are skipped and never rewritten or deleted.
class JobStore {
public:
    // Creates the folder when missing (with its parents), then reads every "*.json"
    // file in it. Throws std::filesystem::filesystem_error when the folder cannot be
    // created or listed.
    explicit JobStore(std::filesystem::path directory);

    // The support folder's "Jobs" folder. Throws std::system_error when the support
    // folder cannot be located.
    static std::filesystem::path defaultDirectory();

    const std::filesystem::path& directory() const { return directory_; }

    // Copies of every job, earliest `createdAt` first.
    std::vector<Job> jobs() const;
    std::optional<Job> job(const Uuid& id) const;

    // Writes the job's file atomically, then records the job. On failure (thrown as
    // std::system_error) neither the file nor the stored job changes.
    void save(const Job& job);
    // Removes the job's file if there is one, then forgets the job. Throws
    // std::filesystem::filesystem_error when the file cannot be removed, changing
    // nothing then.
    void remove(const Uuid& id);

    std::filesystem::path fileFor(const Uuid& id) const;

private:
    void reload();

    const std::filesystem::path directory_;
    mutable std::mutex mutex_; // guards storage_ only, never held across file access
    std::unordered_map<Uuid, Job> storage_;
};

} // namespace marrowbell
