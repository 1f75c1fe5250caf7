#pragma once

#include "base/FileWatcher.h"
#include "base/ObserverList.h"
#include "base/StoreFile.h"
#include "base/Subscription.h"
#include "base/Uuid.h"
#include "run/RunRecord.h"
#include "run/SerialQueue.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace marrowbell {

// The records of every job's runs, newest last, capped at `capacity`, mirrored into
// one JSON file (an array, oldest first) kept by the rules of StoreFile. Recording never
// waits for the disk: on the serial queue "com.marrowbell.history.writes" the records
// in memory are merged into the file as it is then, under its lock, and the file
// rewritten whole and atomically, so it holds complete JSON at every instant and no
// other writer's records are lost. A write that fails keeps its records in memory for
// the next write to carry. Records are never deleted except by the cap. Shared by
// reference; every member may be called from any thread.
//
// Observers are told of the records added: by `record`, or, in a process that only
// reads the history (the scheduler lock's holder is its one writer) and `follow`s
// the file, by the writer. While following, a file that cannot be read or does not
// decode whole is left as it is and the records in memory stay.
class RunHistory {
public:
    static constexpr std::size_t capacity = 2000;
    static constexpr const char* fileName = "runs.json";
    static constexpr const char* writeQueueLabel = "com.marrowbell.history.writes";
    static constexpr std::size_t maxFileBytes = std::size_t(256) << 20;

    // "runs.json" in the support folder. Throws std::system_error when the support
    // folder cannot be provided.
    static std::filesystem::path defaultFileURL();

    // A history kept only in memory: no file, no records.
    RunHistory();
    // Creates the file's folder (with intermediates; throws std::filesystem::filesystem_error
    // when it cannot) and loads the file: records that do not decode are left out, a file
    // that does not decode at all is moved aside, and one that cannot be read gives an
    // empty history and is never replaced (see `loadProblems`). A loaded file is kept
    // whole even beyond the cap, which applies at the next `record`.
    explicit RunHistory(std::filesystem::path fileURL);
    // Finishes the writes already queued.
    ~RunHistory();
    RunHistory(const RunHistory&) = delete;
    RunHistory& operator=(const RunHistory&) = delete;

    const std::optional<std::filesystem::path>& fileURL() const { return fileURL_; }

    // Appends the record (dropping the oldest beyond the cap) and queues a write of the
    // whole history. Returns at once.
    void record(RunRecord run);

    // One job's records, newest `startedAt` first; equal start times keep recorded order.
    std::vector<RunRecord> runs(const Uuid& forJob) const;
    // The first of `runs(forJob)`, or none.
    std::optional<RunRecord> lastRun(const Uuid& forJob) const;
    // Every record, newest `startedAt` first, sorted like `runs`.
    std::vector<RunRecord> allRuns() const;
    // Each job's latest `startedAt` (its last run or skip), without copying records.
    std::unordered_map<Uuid, Instant> lastStarts() const;

    // What went wrong reading the file, one message each, for the user.
    std::vector<std::string> loadProblems() const;
    // The last write's failure ("Could not save the run history — …"); none once a
    // write succeeds.
    std::optional<std::string> writeFailure() const;
    // Called on the write queue after each failed write; records stay in memory.
    void setOnWriteFailure(std::function<void(const StoreError&)> callback);

    // Writes queued by `record` and not yet finished.
    std::size_t pending() const;
    // Waits until every write queued so far has finished.
    void flush();

    // Calls `observer` with the records added, through `executor` (see ObserverList).
    [[nodiscard]] Subscription subscribe(ObserverList<std::vector<RunRecord>>::Observer observer,
                                         Executor executor = {});
    // For a reader: takes the file as the history again, from now on, whenever the
    // writer replaces it. Call it once; throws std::system_error when the folder cannot
    // be followed, std::logic_error for a history kept only in memory.
    void follow(FileWatcher& watcher);

private:
    void persist();
    void reload();

    const std::optional<std::filesystem::path> fileURL_;
    std::optional<StoreFile> file_;
    mutable std::mutex mutex_;
    std::vector<RunRecord> records_;
    std::size_t pending_ = 0;
    // Bumped by every `record`; the file holds the list as of `persisted_`.
    std::uint64_t generation_ = 0;
    std::uint64_t persisted_ = 0;
    std::optional<std::string> writeFailure_;
    std::function<void(const StoreError&)> onWriteFailure_;
    ObserverList<std::vector<RunRecord>> observers_;
    // Ended before the state above goes, so no reload runs into a history being destroyed.
    Subscription following_;
    // Declared last so that it is destroyed first, finishing its writes while the
    // state above still exists.
    SerialQueue writes_{writeQueueLabel};
};

} // namespace marrowbell
