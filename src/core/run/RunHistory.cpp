#include "run/RunHistory.h"

#include "base/Files.h"
#include "base/SupportDirectory.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <unordered_set>

namespace marrowbell {

namespace fs = std::filesystem;

fs::path RunHistory::defaultFileURL() {
    return SupportDirectory::file(fileName);
}

RunHistory::RunHistory() = default;

// The identifier of a record stored without one: derived from its content, so the
// record read again (each write re-reads the file) is recognised as the same one.
static Uuid contentId(const Json& item) {
    const std::string text = item.dump();
    const std::uint64_t halves[2] = {std::hash<std::string>{}(text),
                                     std::hash<std::string>{}(text + "\n")};
    Uuid id;
    std::memcpy(id.bytes.data(), halves, sizeof halves);
    id.bytes[6] = static_cast<std::uint8_t>((id.bytes[6] & 0x0F) | 0x80); // version 8
    id.bytes[8] = static_cast<std::uint8_t>((id.bytes[8] & 0x3F) | 0x80);
    return id;
}

static Decoded<std::vector<RunRecord>> decode(const Json& document) {
    if (!document.is_array())
        throw DecodeError("the history is not a list");
    Decoded<std::vector<RunRecord>> decoded;
    decoded.value.reserve(document.size());
    for (const Json& item : document) {
        try {
            RunRecord record = RunRecord::fromJson(item);
            if (!json::has(item, "id"))
                record.id = contentId(item);
            decoded.value.push_back(std::move(record));
        } catch (const std::exception&) {
            ++decoded.dropped; // one bad record costs that record, not the history
        }
    }
    return decoded;
}

static std::string encode(const std::vector<RunRecord>& records) {
    Json array = Json::array();
    for (const RunRecord& r : records)
        array.push_back(r.toJson());
    return json::pretty(array);
}

// Drops the oldest records beyond `limit`.
static void cap(std::vector<RunRecord>& records, std::size_t limit) {
    if (records.size() > limit)
        records.erase(records.begin(),
                      records.begin() + static_cast<std::ptrdiff_t>(records.size() - limit));
}

RunHistory::RunHistory(fs::path fileURL)
    : fileURL_(std::move(fileURL))
    // Result texts may hold private material: readable by the user alone.
    , file_(std::in_place, *fileURL_, "the run history", maxFileBytes, 0600) {
    if (fileURL_->has_parent_path())
        files::createPrivateFolders(fileURL_->parent_path());
    records_ = file_->load<std::vector<RunRecord>>(decode, encode);
}

RunHistory::~RunHistory() {
    flush();
}

void RunHistory::record(RunRecord run) {
    {
        std::lock_guard lock(mutex_);
        if (records_.size() >= capacity)
            cap(records_, capacity - 1);
        records_.push_back(run);
        ++generation_;
        ++pending_;
    }
    writes_.async([this] { persist(); });
    observers_.notify({std::move(run)});
}

Subscription RunHistory::subscribe(ObserverList<std::vector<RunRecord>>::Observer observer,
                                   Executor executor) {
    return observers_.subscribe(std::move(observer), std::move(executor));
}

void RunHistory::follow(FileWatcher& watcher) {
    if (!fileURL_)
        throw std::logic_error("a history kept only in memory has no file to follow");
    following_ =
        watcher.watch(fileURL_->parent_path(), [this](const FileWatcher::Changes& changes) {
            if (changes.touches(fileURL_->filename().string()))
                reload();
        });
}

// Read as at creation, but a file that cannot be read or does not decode whole is left
// as it is and memory kept. Skipped while this process has records of its own not yet
// on disk: the file would be older than memory, and their renames come next.
void RunHistory::reload() {
    std::uint64_t seen;
    {
        std::lock_guard lock(mutex_);
        if (pending_ > 0 || persisted_ != generation_)
            return;
        seen = generation_;
    }
    std::optional<std::vector<RunRecord>> read =
        file_->readClean<std::vector<RunRecord>>(decode, {});
    if (!read)
        return;
    std::vector<RunRecord> loaded = std::move(*read);
    std::vector<RunRecord> added;
    {
        std::lock_guard lock(mutex_);
        if (generation_ != seen)
            return;
        std::unordered_set<Uuid> known;
        for (const RunRecord& r : records_)
            known.insert(r.id);
        for (const RunRecord& r : loaded)
            if (!known.contains(r.id))
                added.push_back(r);
        records_ = std::move(loaded);
    }
    if (!added.empty())
        observers_.notify(added);
}

// The records of `list` whose identifiers are not in `present`, in order.
static std::vector<RunRecord> missingFrom(const std::vector<RunRecord>& present,
                                          const std::vector<RunRecord>& list) {
    std::unordered_set<Uuid> ids;
    for (const RunRecord& r : present)
        ids.insert(r.id);
    std::vector<RunRecord> missing;
    for (const RunRecord& r : list)
        if (!ids.contains(r.id))
            missing.push_back(r);
    return missing;
}

// Runs on the write queue. Each write merges the records in memory into the file as
// it is then (another process may have added its own since, or it may be gone), so a
// burst of records queued behind a slow disk costs one rewrite, not one each, and a
// failed write leaves its records for the next one to carry.
void RunHistory::persist() {
    std::vector<RunRecord> snapshot;
    std::uint64_t generation = 0;
    bool write = false;
    {
        std::lock_guard lock(mutex_);
        if (file_ && generation_ != persisted_) {
            snapshot = records_;
            generation = generation_;
            write = true;
        }
    }
    std::optional<StoreError> failure;
    if (write) {
        auto merge = [&](std::vector<RunRecord>& onDisk) {
            for (RunRecord& r : missingFrom(onDisk, snapshot))
                onDisk.push_back(std::move(r));
            cap(onDisk, capacity);
        };
        auto adopt = [&](const std::vector<RunRecord>& written) {
            std::lock_guard lock(mutex_);
            // Records added while this write ran are not in the file yet; they stay last.
            std::vector<RunRecord> later = missingFrom(snapshot, records_);
            records_ = written;
            records_.insert(records_.end(), later.begin(), later.end());
            cap(records_, capacity);
            persisted_ = generation;
            writeFailure_.reset();
        };
        try {
            file_->update<std::vector<RunRecord>>(decode, merge, encode, adopt);
        } catch (const StoreError& error) {
            failure = error;
        } catch (const std::exception& error) {
            failure = StoreError::couldNotSave(
                "the run history", std::make_error_code(std::errc::io_error), error.what());
        }
    }
    std::function<void(const StoreError&)> onFailure;
    {
        std::lock_guard lock(mutex_);
        if (failure) {
            writeFailure_ = failure->what();
            onFailure = onWriteFailure_;
        }
        --pending_;
    }
    if (failure && onFailure)
        onFailure(*failure);
}

std::vector<std::string> RunHistory::loadProblems() const {
    return file_ ? file_->problems() : std::vector<std::string>{};
}

std::optional<std::string> RunHistory::writeFailure() const {
    std::lock_guard lock(mutex_);
    return writeFailure_;
}

void RunHistory::setOnWriteFailure(std::function<void(const StoreError&)> callback) {
    std::lock_guard lock(mutex_);
    onWriteFailure_ = std::move(callback);
}

void RunHistory::flush() {
    writes_.sync([] {});
}

std::size_t RunHistory::pending() const {
    std::lock_guard lock(mutex_);
    return pending_;
}

// Newest first. A start time that is not a number sorts as the oldest, keeping the
// order strict.
static bool startsLater(const RunRecord& a, const RunRecord& b) {
    auto key = [](const RunRecord& r) {
        double t = r.startedAt.sinceReference;
        return std::isnan(t) ? -INFINITY : t;
    };
    return key(a) > key(b);
}

std::vector<RunRecord> RunHistory::runs(const Uuid& forJob) const {
    std::vector<RunRecord> mine;
    {
        std::lock_guard lock(mutex_);
        for (const RunRecord& r : records_)
            if (r.jobID == forJob)
                mine.push_back(r);
    }
    std::stable_sort(mine.begin(), mine.end(), startsLater);
    return mine;
}

std::optional<RunRecord> RunHistory::lastRun(const Uuid& forJob) const {
    std::lock_guard lock(mutex_);
    const RunRecord* newest = nullptr;
    for (const RunRecord& r : records_)
        if (r.jobID == forJob && (!newest || startsLater(r, *newest)))
            newest = &r;
    return newest ? std::optional(*newest) : std::nullopt;
}

std::vector<RunRecord> RunHistory::allRuns() const {
    std::vector<RunRecord> all;
    {
        std::lock_guard lock(mutex_);
        all = records_;
    }
    std::stable_sort(all.begin(), all.end(), startsLater);
    return all;
}

std::unordered_map<Uuid, Instant> RunHistory::lastStarts() const {
    std::unordered_map<Uuid, Instant> starts;
    std::lock_guard lock(mutex_);
    for (const RunRecord& record : records_) {
        auto [entry, added] = starts.try_emplace(record.jobID, record.startedAt);
        if (!added && entry->second < record.startedAt)
            entry->second = record.startedAt;
    }
    return starts;
}

} // namespace marrowbell
