#pragma once

#include "base/Uuid.h"
#include "job/Job.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace marrowbell {

// The jobs, one JSON file per job ("{UUID}.json") in one folder, read once when the
// store is made and kept in memory. Shared by reference; safe to use from any thread.
// Only regular files of at most `maxFileBytes` are read (a FIFO or a device is never
// opened for blocking reads); files that are not jobs are skipped, reported in
// `loadProblems` and never rewritten or deleted. Of two files holding one job (a copy
// left by a file synchroniser), the one named after the job's identifier is kept,
// else the first by name, and the other reported.
class JobStore {
public:
    // Creates the folder when missing (with its parents), then reads every "*.json"
    // file in it. Throws std::filesystem::filesystem_error when the folder cannot be
    // created or listed.
    explicit JobStore(std::filesystem::path directory);

    // The support folder's "Jobs" folder. Throws std::system_error when the support
    // folder cannot be located.
    static std::filesystem::path defaultDirectory();

    static constexpr std::size_t maxFileBytes = std::size_t(1) << 20;

    const std::filesystem::path& directory() const { return directory_; }
    // The files skipped while loading and why, one message each, for the user.
    std::vector<std::string> loadProblems() const;

    // Copies of every job, earliest `createdAt` first.
    std::vector<Job> jobs() const;
    std::optional<Job> job(const Uuid& id) const;

    // Writes the job's file atomically, then records the job. On failure (thrown as
    // StoreError, "Could not save the job “…” — …") neither the file nor the stored job
    // changes.
    void save(const Job& job);
    // Removes every file of the folder holding the job (its own and any copy), then
    // forgets the job. Throws StoreError naming each file that could not be removed;
    // the job stays known then.
    void remove(const Uuid& id);

    std::filesystem::path fileFor(const Uuid& id) const;

private:
    void reload();

    const std::filesystem::path directory_;
    mutable std::mutex mutex_; // guards storage_ only, never held across file access
    std::unordered_map<Uuid, Job> storage_;
    std::vector<std::string> problems_;
};

} // namespace marrowbell
