#include "run/LiveRuns.h"

#include <algorithm>
#include <exception>

namespace marrowbell {

void LiveRuns::Listener::outputLines(const LiveRun& run, std::uint64_t lengthBefore,
                                     OutputChannel channel,
                                     std::span<const std::string_view> lines) {
    std::uint64_t length = lengthBefore;
    for (std::string_view text : lines) {
        length += transcriptPrefix(channel).size() + text.size() + 1;
        outputLine(run, length, channel, text);
    }
}

LiveRuns::LiveRuns(std::optional<TranscriptFolder> folder,
                   std::function<std::uint64_t()> limitBytes)
    : folder_(std::move(folder))
    , limitBytes_(limitBytes ? std::move(limitBytes)
                             : [] { return TranscriptFolder::defaultLimitBytes; }) {}

void LiveRuns::setListener(std::shared_ptr<Listener> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

std::shared_ptr<LiveRuns::Run> LiveRuns::begin(const Job& job, const Uuid& runID,
                                               Instant startedAt) {
    std::unique_ptr<RunTranscript> transcript;
    std::optional<std::string> problem;
    if (folder_) {
        try {
            transcript = folder_->create(runID);
        } catch (const std::exception& error) {
            problem = "This run keeps no transcript: " + folder_->folder().string() +
                      " cannot be written (" + error.what() + ").";
        }
    }
    std::shared_ptr<Listener> listener;
    {
        std::lock_guard lock(mutex_);
        listener = listener_;
    }
    auto run =
        std::make_shared<Run>(*this, LiveRun{runID, job.id, job.name, startedAt, std::nullopt},
                              std::move(transcript), std::move(problem), listener);
    {
        std::lock_guard lock(mutex_);
        runs_.push_back(run);
    }
    if (listener)
        listener->runBegan(run->info());
    return run;
}

std::vector<LiveRun> LiveRuns::runs() const {
    std::vector<std::shared_ptr<Run>> runs;
    {
        std::lock_guard lock(mutex_);
        runs = runs_;
    }
    std::vector<LiveRun> result;
    for (const auto& run : runs)
        result.push_back(run->info());
    return result;
}

bool LiveRuns::anyInFlight() const {
    std::lock_guard lock(mutex_);
    return !runs_.empty();
}

std::optional<std::uint64_t> LiveRuns::flushTranscript(const Uuid& runID) const {
    std::shared_ptr<Run> found;
    {
        std::lock_guard lock(mutex_);
        for (const auto& run : runs_)
            if (run->runID() == runID)
                found = run;
    }
    if (!found)
        return std::nullopt;
    return found->flush();
}

void LiveRuns::flushAll() const {
    std::vector<std::shared_ptr<Run>> runs;
    {
        std::lock_guard lock(mutex_);
        runs = runs_;
    }
    for (const auto& run : runs)
        run->flush();
}

std::unordered_set<Uuid> LiveRuns::remove(const Run* run) {
    std::lock_guard lock(mutex_);
    std::erase_if(runs_, [run](const std::shared_ptr<Run>& entry) { return entry.get() == run; });
    std::unordered_set<Uuid> live;
    for (const auto& entry : runs_)
        live.insert(entry->runID());
    return live;
}

LiveRuns::Run::Run(LiveRuns& owner, LiveRun info, std::unique_ptr<RunTranscript> transcript,
                   std::optional<std::string> problem, std::shared_ptr<Listener> listener)
    : owner_(owner)
    , info_(std::move(info))
    , problem_(std::move(problem))
    , listener_(std::move(listener))
    , transcript_(std::move(transcript)) {}

LiveRuns::Run::~Run() = default;

LiveRun LiveRuns::Run::info() const {
    LiveRun info = info_;
    if (pid_t pid = processID_.load(std::memory_order_relaxed); pid > 0)
        info.processID = pid;
    return info;
}

void LiveRuns::Run::setProcessID(pid_t pid) {
    processID_.store(pid, std::memory_order_relaxed);
}

void LiveRuns::Run::line(OutputChannel channel, std::string_view text) {
    std::uint64_t length;
    {
        std::lock_guard lock(mutex_);
        if (transcript_)
            transcript_->append(channel, text);
        length_ += transcriptPrefix(channel).size() + text.size() + 1;
        length = length_;
    }
    if (listener_)
        listener_->outputLine(info_, length, channel, text);
}

void LiveRuns::Run::lines(OutputChannel channel, std::span<const std::string_view> texts) {
    if (texts.empty())
        return;
    std::uint64_t before;
    {
        std::lock_guard lock(mutex_);
        if (transcript_)
            transcript_->append(channel, texts);
        before = length_;
        for (std::string_view text : texts)
            length_ += transcriptPrefix(channel).size() + text.size() + 1;
    }
    if (listener_)
        listener_->outputLines(info_, before, channel, texts);
}

std::uint64_t LiveRuns::Run::flush() {
    std::lock_guard lock(mutex_);
    if (transcript_)
        transcript_->flush();
    return transcript_ ? length_ : 0;
}

std::unordered_set<Uuid> LiveRuns::Run::end(const std::optional<RunRecord>& record) {
    std::unordered_set<Uuid> live = owner_.remove(this);
    {
        std::lock_guard lock(mutex_);
        transcript_.reset();
    }
    if (listener_)
        listener_->runEnded(info(), record);
    return live;
}

void LiveRuns::Run::abandon() {
    if (!finished_.exchange(true))
        end(std::nullopt);
}

void LiveRuns::Run::finish(const RunRecord& record, const RunHistory& history) {
    if (finished_.exchange(true))
        return;
    std::unordered_set<Uuid> live = end(record);
    if (!owner_.folder_)
        return;
    std::unordered_set<Uuid> keep;
    Instant oldest = Instant::distantPast();
    std::vector<RunRecord> records = history.allRuns();
    for (const RunRecord& kept : records)
        keep.insert(kept.id);
    if (!records.empty())
        oldest = records.back().startedAt; // newest first
    owner_.folder_->prune(keep, oldest, live, owner_.limitBytes_());
}

} // namespace marrowbell
