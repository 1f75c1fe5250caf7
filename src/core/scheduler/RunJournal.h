#pragma once

#include "base/Instant.h"
#include "base/Uuid.h"
#include "run/RunHistory.h"
#include "run/RunProcess.h"
#include "run/RunRecord.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <vector>

namespace marrowbell {

// The runs a scheduler has in flight, kept in "running.json" in the support folder
// while they run: which job, which slot, and the processes to end. A scheduler that
// dies (killed, crashed, the machine reset) leaves its entries behind; the next one to
// take the scheduler lock calls `recover`, which ends whatever of those runs is still
// running and records each once, so no harness outlives its scheduler unattended and
// no slot runs twice. Every member may be called from any thread.
class RunJournal {
public:
    static constexpr const char* fileName = "running.json";
    static constexpr const char* interruptedMessage = "The scheduler stopped during this run.";

    struct Entry {
        Uuid runID;
        Uuid jobID;
        Instant slot; // the record's startedAt: the slot counts as run
        RunProcess process;

        friend bool operator==(const Entry&, const Entry&) = default;
    };

    // "running.json" in the support folder.
    static std::filesystem::path defaultFileURL();

    explicit RunJournal(std::filesystem::path file);

    // For each entry a previous scheduler left: ends its processes, and records the
    // run as interrupted ("The scheduler stopped during this run.", started at its
    // slot) unless the history already holds a record of the job for that slot. Then
    // the journal is emptied. Returns the records added. An unreadable journal is left
    // alone and recovers nothing.
    std::vector<RunRecord> recover(RunHistory& history);

    // Journals a run that has started, and forgets it once it has its record. Throws
    // std::system_error when the file cannot be written.
    void add(const Entry& entry);
    void remove(const Uuid& runID);

    std::vector<Entry> entries() const;

private:
    void write(std::vector<Entry> entries, std::uint64_t generation);

    const std::filesystem::path file_;
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    std::uint64_t generation_ = 0;
    // Writes are ordered apart from the state, so the state's lock is never held
    // across the disk; a write older than the one on disk is dropped.
    std::mutex writeMutex_;
    std::uint64_t written_ = 0;
};

} // namespace marrowbell
