#include "scheduler/RunJournal.h"

#include "base/Files.h"
#include "base/Json.h"
#include "base/SupportDirectory.h"

#include <algorithm>

namespace marrowbell {

namespace {

Json toJson(const RunJournal::Entry& entry) {
    return Json{{"runID", entry.runID.text()},
                {"jobID", entry.jobID.text()},
                {"slot", entry.slot.sinceReference},
                {"guard", entry.process.guard},
                {"guardStartTime", entry.process.guardStartTime},
                {"group", entry.process.group},
                {"groupStartTime", entry.process.groupStartTime}};
}

RunJournal::Entry fromJson(const Json& value) {
    const Json& object = json::object(value, "a run in flight");
    RunJournal::Entry entry;
    entry.runID = json::requiredUuid(object, "runID");
    entry.jobID = json::requiredUuid(object, "jobID");
    entry.slot = json::requiredInstant(object, "slot");
    entry.process.guard = static_cast<pid_t>(json::requiredInt(object, "guard"));
    entry.process.guardStartTime =
        static_cast<std::uint64_t>(json::requiredInt(object, "guardStartTime"));
    entry.process.group = static_cast<pid_t>(json::requiredInt(object, "group"));
    entry.process.groupStartTime =
        static_cast<std::uint64_t>(json::requiredInt(object, "groupStartTime"));
    return entry;
}

} // namespace

std::filesystem::path RunJournal::defaultFileURL() {
    return SupportDirectory::file(fileName);
}

RunJournal::RunJournal(std::filesystem::path file)
    : file_(std::move(file)) {}

std::vector<RunRecord> RunJournal::recover(RunHistory& history) {
    std::vector<Entry> left;
    if (auto bytes = files::read(file_)) {
        auto document = json::parse(*bytes);
        if (!document || !document->is_array())
            return {}; // not ours to overwrite
        for (const Json& value : *document) {
            try {
                left.push_back(fromJson(value));
            } catch (const DecodeError&) {
                // An entry that cannot be read names no process to end.
            }
        }
    }
    if (left.empty())
        return {};
    std::vector<RunRecord> recorded;
    for (const Entry& entry : left) {
        entry.process.end();
        std::vector<RunRecord> runs = history.runs(entry.jobID);
        bool known = std::any_of(runs.begin(), runs.end(),
                                 [&](const RunRecord& run) { return run.startedAt == entry.slot; });
        if (known)
            continue;
        RunRecord record;
        record.jobID = entry.jobID;
        record.startedAt = entry.slot;
        record.exitCode = 1;
        record.failureMessage = interruptedMessage;
        history.record(record);
        recorded.push_back(record);
    }
    // The records reach the disk before the entries go, so a crash in between can
    // only repeat the recovery, which then finds the records.
    history.flush();
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        generation = ++generation_;
    }
    write({}, generation);
    return recorded;
}

void RunJournal::add(const Entry& entry) {
    std::vector<Entry> snapshot;
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(entry);
        snapshot = entries_;
        generation = ++generation_;
    }
    write(std::move(snapshot), generation);
}

void RunJournal::remove(const Uuid& runID) {
    std::vector<Entry> snapshot;
    std::uint64_t generation;
    {
        std::lock_guard lock(mutex_);
        auto removed = std::erase_if(entries_, [&](const Entry& e) { return e.runID == runID; });
        if (removed == 0)
            return;
        snapshot = entries_;
        generation = ++generation_;
    }
    write(std::move(snapshot), generation);
}

std::vector<RunJournal::Entry> RunJournal::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

void RunJournal::write(std::vector<Entry> entries, std::uint64_t generation) {
    std::lock_guard lock(writeMutex_);
    if (generation <= written_)
        return;
    Json array = Json::array();
    for (const Entry& entry : entries)
        array.push_back(toJson(entry));
    files::createPrivateFolders(file_.parent_path());
    files::writeAtomically(file_, json::pretty(array), 0600);
    written_ = generation;
}

} // namespace marrowbell
