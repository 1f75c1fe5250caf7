#pragma once

#include "base/FileWatcher.h"
#include "base/IdChanges.h"
#include "base/ObserverList.h"
#include "base/Subscription.h"
#include "base/Uuid.h"
#include "job/Job.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace marrowbell {

// The jobs, one JSON file per job ("{UUID}.json") in one folder, read when the store
// is made and kept in memory; once it `follow`s the folder, the files other processes
// add, replace, edit or remove are read again as they change. Shared by reference;
// safe to use from any thread. Only regular files of at most `maxFileBytes` are read
// (a FIFO or a device is never opened for blocking reads); files that are not jobs
// are skipped, reported in `loadProblems` when the store is made, and never rewritten
// or deleted. Of two files holding one job (a copy left by a file synchroniser), the
// one named after the job's identifier is kept, else the first by name, and the other
// reported.
//
// Observers are told of every change, by this process or another: which jobs were
// saved (added or replaced) and which removed. A file the store wrote itself is not
// reported again when the folder reports it.
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

    // Calls `observer` after each change, through `executor` (see ObserverList).
    [[nodiscard]] Subscription subscribe(ObserverList<IdChanges>::Observer observer,
                                         Executor executor = {});

    // Reads again, from now on, each file of the folder that another process changes;
    // the changes reach the observers. Call it once; throws std::system_error when the
    // folder cannot be followed.
    void follow(FileWatcher& watcher);

private:
    // Rebuilds the jobs from every file of the folder.
    IdChanges reload();
    // Reads the named files of the folder again.
    IdChanges reload(const std::vector<std::string>& names);
    void reloadFile(const std::string& name, IdChanges& changes);
    // The file whose job is kept among those holding `id`; none when no file holds it.
    // Called with `mutex_` held.
    std::optional<std::string> sourceOf(const Uuid& id) const;
    void notify(const IdChanges& changes);

    const std::filesystem::path directory_;
    mutable std::mutex mutex_; // guards storage_ to writes_, never held across file access
    std::unordered_map<Uuid, Job> storage_;
    // Which job each decoded file of the folder holds, by file name (in name order, for
    // the rule between two files of one job).
    std::map<std::string, Uuid> sources_;
    std::vector<std::string> problems_;
    // Bumped by every save and removal: a file read while one happened may be stale.
    std::uint64_t writes_ = 0;
    ObserverList<IdChanges> observers_;
    // Declared last: ended first, so no reload runs into a store being destroyed.
    Subscription following_;
};

} // namespace marrowbell
