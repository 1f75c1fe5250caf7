#include "run/RunHistory.h"

#include "base/Files.h"
#include "base/SupportDirectory.h"

#include <algorithm>
#include <cmath>

namespace marrowbell {

namespace fs = std::filesystem;

fs::path RunHistory::defaultFileURL() {
    return SupportDirectory::file(fileName);
}

RunHistory::RunHistory() = default;

static std::vector<RunRecord> load(const fs::path& file) {
    std::optional<std::string> bytes = files::read(file);
    if (!bytes)
        return {};
    std::optional<Json> document = json::parse(*bytes);
    if (!document || !document->is_array())
        return {};
    std::vector<RunRecord> records;
    records.reserve(document->size());
    try {
        for (const Json& item : *document)
            records.push_back(RunRecord::fromJson(item));
    } catch (const DecodeError&) {
        return {}; // one undecodable record makes the whole file unreadable
    }
    return records;
}

RunHistory::RunHistory(fs::path fileURL)
    : fileURL_(std::move(fileURL)) {
    if (fileURL_->has_parent_path())
        fs::create_directories(fileURL_->parent_path());
    records_ = load(*fileURL_);
}

RunHistory::~RunHistory() {
    flush();
}

void RunHistory::record(RunRecord run) {
    {
        std::lock_guard lock(mutex_);
        if (records_.size() >= capacity)
            records_.erase(records_.begin(),
                           records_.begin() +
                               static_cast<std::ptrdiff_t>(records_.size() - capacity + 1));
        records_.push_back(std::move(run));
        ++generation_;
        ++pending_;
    }
    writes_.async([this] { persist(); });
}

// Runs on the write queue. Each write takes the list as it is when the write starts,
// so a burst of records queued behind a slow disk costs one rewrite, not one each;
// the file still ends with the state of the last `record`.
void RunHistory::persist() {
    std::vector<RunRecord> snapshot;
    std::uint64_t generation = 0;
    bool write = false;
    {
        std::lock_guard lock(mutex_);
        if (fileURL_ && generation_ != persisted_) {
            snapshot = records_;
            generation = generation_;
            write = true;
        }
    }
    bool written = false;
    if (write) {
        try {
            Json array = Json::array();
            for (const RunRecord& r : snapshot)
                array.push_back(r.toJson());
            // Result texts may hold private material: readable by the user alone.
            files::writeAtomically(*fileURL_, json::pretty(array), 0600);
            written = true;
        } catch (...) {
            // The in-memory records stay right; the next write tries again.
        }
    }
    std::lock_guard lock(mutex_);
    if (written)
        persisted_ = generation;
    --pending_;
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

} // namespace marrowbell
