#pragma once

#include "base/Instant.h"
#include "base/Uuid.h"
#include "job/Job.h"
#include "run/OutputChannel.h"
#include "run/RunHistory.h"
#include "run/RunRecord.h"
#include "run/RunTranscript.h"
#include "run/TranscriptFolder.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_set>
#include <vector>

namespace marrowbell {

// A run in flight, as others may see it.
struct LiveRun {
    Uuid runID;
    Uuid jobID;
    std::string jobName;
    Instant startedAt;
    std::optional<pid_t> processID; // the harness, once started
};

// The runs in flight of this process, each with its transcript. The job runner begins
// a run here before its harness starts, hands it every line of output and finishes it
// once its record is stored; the transcript is written as the lines arrive, and a
// listener (the control channel) sees each run begin, each line and each end.
//
// Every member may be called from any thread. The registry's one mutex guards the map
// of runs only; each run guards its transcript with a lock of its own. No lock is held
// while the listener is called.
class LiveRuns {
public:
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void runBegan(const LiveRun& run) = 0;
        // `length` is the transcript's length once this line is in it: a line whose
        // length is at most what `flushTranscript` answered is already in the file.
        // Called on the run's thread, line after line; must not block.
        virtual void outputLine(const LiveRun& run, std::uint64_t length, OutputChannel channel,
                                std::string_view text) = 0;
        // Lines that arrived together, in order: `lengthBefore` is the transcript's
        // length before the first of them, each adding its prefix, its text and a
        // newline. By default one `outputLine` each.
        virtual void outputLines(const LiveRun& run, std::uint64_t lengthBefore,
                                 OutputChannel channel, std::span<const std::string_view> lines);
        // `record` is none for a run abandoned without one (its runner failed).
        virtual void runEnded(const LiveRun& run, const std::optional<RunRecord>& record) = 0;
    };

    class Run;

    // Without a folder, runs keep no transcript. `limitBytes` gives the size the kept
    // transcripts may take together (read when a run ends); by default 1 GiB.
    explicit LiveRuns(std::optional<TranscriptFolder> folder,
                      std::function<std::uint64_t()> limitBytes = {});

    // Seen by the runs that begin afterwards.
    void setListener(std::shared_ptr<Listener> listener);

    // Registers a run and creates its transcript. When the transcript cannot be
    // created the run goes on without one; `Run::transcriptProblem` says why.
    std::shared_ptr<Run> begin(const Job& job, const Uuid& runID, Instant startedAt);

    // The runs in flight, earliest begun first.
    std::vector<LiveRun> runs() const;
    bool anyInFlight() const;
    // Writes the run's buffered lines to its transcript and answers the transcript's
    // length (0 for a run without one); none when the run is not in flight.
    std::optional<std::uint64_t> flushTranscript(const Uuid& runID) const;
    // Writes every run's buffered lines, so a transcript lags at most by this call's
    // period (the control server calls it a few times a second while runs are in
    // flight).
    void flushAll() const;

    const std::optional<TranscriptFolder>& folder() const { return folder_; }

private:
    friend class Run;
    // Takes the run off the registry; the runs still in flight.
    std::unordered_set<Uuid> remove(const Run* run);

    const std::optional<TranscriptFolder> folder_;
    const std::function<std::uint64_t()> limitBytes_;
    mutable std::mutex mutex_;
    std::shared_ptr<Listener> listener_;
    std::vector<std::shared_ptr<Run>> runs_;
};

// One run in flight; made by `LiveRuns::begin`.
class LiveRuns::Run : public std::enable_shared_from_this<LiveRuns::Run> {
public:
    Run(LiveRuns& owner, LiveRun info, std::unique_ptr<RunTranscript> transcript,
        std::optional<std::string> problem, std::shared_ptr<Listener> listener);
    ~Run();

    const Uuid& runID() const { return info_.runID; }
    LiveRun info() const;

    // One line of output: into the transcript, then to the listener.
    void line(OutputChannel channel, std::string_view text);
    // Lines that arrived together: into the transcript and to the listener at once.
    void lines(OutputChannel channel, std::span<const std::string_view> texts);
    void setProcessID(pid_t pid);
    // Why this run keeps no transcript, as a warning for the user; none when it does.
    const std::optional<std::string>& transcriptProblem() const { return problem_; }

    // Once the run's record is stored: closes the transcript, takes the run off the
    // registry, tells the listener, and prunes the transcripts to the records `history`
    // keeps and to the size limit. Only the first call counts.
    void finish(const RunRecord& record, const RunHistory& history);
    // For a run that ends without a record: closes and unregisters it. Does nothing
    // after `finish`.
    void abandon();

private:
    friend class LiveRuns;
    std::uint64_t flush();
    std::unordered_set<Uuid> end(const std::optional<RunRecord>& record);

    LiveRuns& owner_;
    const LiveRun info_;
    std::atomic<pid_t> processID_{0};
    const std::optional<std::string> problem_;
    const std::shared_ptr<Listener> listener_;
    std::atomic<bool> finished_{false};

    std::mutex mutex_; // guards the transcript and its length
    std::unique_ptr<RunTranscript> transcript_;
    std::uint64_t length_ = 0;
};

} // namespace marrowbell
