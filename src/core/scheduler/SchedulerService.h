#pragma once

#include "base/Instant.h"
#include "base/Subscription.h"
#include "base/Uuid.h"
#include "job/Job.h"
#include "job/JobStore.h"
#include "run/JobRunning.h"
#include "run/RunHistory.h"
#include "run/RunRecord.h"
#include "scheduler/OneShotTimer.h"
#include "scheduler/RunJournal.h"
#include "scheduler/TaskGroup.h"
#include "scheduler/TimerQueue.h"
#include "settings/EndpointStore.h"
#include "settings/SettingsStore.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace marrowbell {

// Makes jobs run by themselves. One one-shot timer, always re-armed for the next
// instant something is due (never sooner than 1 s, never later than an hour), fires a
// tick on the serial queue "com.marrowbell.scheduler": the tick asks the planner about
// every job that is neither in flight nor in a busy folder, starts the due ones, records
// the slots missed beyond the catch-up grace as skips, and re-arms the timer. So does
// the end of every run, every `reschedule`, and every change the job, endpoint and
// settings stores report (made by this process or, once the stores follow their files,
// by another): no caller needs to re-plan after a change.
//
// A change never touches a run in flight: a job deleted, paused or edited while it
// runs finishes that run, which is recorded; it is then planned from what the store
// holds (nothing, paused, or its new form).
//
// Two scheduled runs never work in one folder at once (folders compare by
// `folderKey`), and a job in flight is never started by the timer. Each run is a task on
// a thread of its own, cancelled through a std::stop_source.
//
// Lifetime: always held by std::shared_ptr (see `create`). The timer handler and the
// run tasks hold the service weakly; a run that has begun keeps it alive until its
// record exists and its clean-up is done. A task that starts after the last owner let
// go yields the record "The scheduler went away mid-run." (not stored).
//
// Every member may be called from any thread. The service's one mutex guards the
// timer, the running flag, the busy folders, the runs in flight and the callbacks; it
// is never held while calling a store, the history, the runner or a callback.
class SchedulerService : public std::enable_shared_from_this<SchedulerService> {
public:
    static constexpr const char* queueLabel = "com.marrowbell.scheduler";
    static constexpr Seconds minimumDelay = 1;
    static constexpr Seconds maximumDelay = 3600;
    static constexpr const char* wentAwayMessage = "The scheduler went away mid-run.";

    using Clock = std::function<Instant()>;
    using LineHandler = JobRunning::LineHandler;

    // `timers` defaults to a SerialTimerQueue labelled `queueLabel`, `clock` to
    // Instant::now. Nothing runs until `start`.
    static std::shared_ptr<SchedulerService>
    create(std::shared_ptr<JobStore> store, std::shared_ptr<RunHistory> history,
           std::shared_ptr<EndpointStore> endpoints, std::shared_ptr<SettingsStore> settings,
           std::shared_ptr<const JobRunning> runner, std::shared_ptr<TimerQueue> timers = nullptr,
           Clock clock = nullptr);

    ~SchedulerService();
    SchedulerService(const SchedulerService&) = delete;
    SchedulerService& operator=(const SchedulerService&) = delete;

    // The three callbacks. Each may be called from any thread, concurrently; set them
    // before `start`.
    void setOnChange(std::function<void()> callback);
    void setOnRunStarted(std::function<void(const Job&)> callback);
    void setOnRunFinished(std::function<void(const Job&, const RunRecord&)> callback);

    // Journals every run from now on in `journal`, after recovering what a previous
    // scheduler left in it (RunJournal::recover): its harnesses are ended and its runs
    // recorded as interrupted, so their slots count as run. Only the holder of the
    // scheduler lock may call it, once, before any run.
    void adoptJournal(std::shared_ptr<RunJournal> journal);

    // Arms the timer; does nothing when already started.
    void start();
    // Disarms the timer. Runs in flight continue; a tick already under way starts no
    // further run.
    void stop();
    // Re-arms the timer for what is due now; after `stop` it only cancels.
    void reschedule();

    // Runs the job now, for the present instant, on a task of its own; the future holds
    // the record once the run is cleaned up. Works whether or not the service is
    // started. Keeps the job out of planning while it runs, but takes no folder.
    // A stop requested on `cancel` cancels this run alone.
    std::future<RunRecord> runNow(const Job& job, LineHandler onOutputLine = {},
                                  std::stop_token cancel = {});
    // Requests cancellation of every run of the job in flight; nothing otherwise.
    void cancel(const Uuid& jobID);
    // Requests cancellation of every run in flight.
    void cancelAll();
    bool isRunning(const Uuid& jobID) const;
    // When the armed timer fires; none when no timer is armed.
    std::optional<Instant> nextWakeUp() const;
    // Blocks until no run task is left, clean-up included.
    void waitUntilIdle() const;
    // The same, for at most `timeout`; whether no run task is left.
    bool waitUntilIdle(std::chrono::milliseconds timeout) const;

    // The job's folder after lexical standardisation ("." and ".." resolved, no
    // trailing slash, symbolic links not followed), as a plain path.
    static std::string folderKey(const Job& job);

    // The delay armed for a wake-up at `wakeUp` seen at `now`: 1 to 3600 seconds.
    static Seconds clampedDelay(Instant wakeUp, Instant now);

private:
    struct Passkey {};

public:
    SchedulerService(Passkey, std::shared_ptr<JobStore> store, std::shared_ptr<RunHistory> history,
                     std::shared_ptr<EndpointStore> endpoints,
                     std::shared_ptr<SettingsStore> settings,
                     std::shared_ptr<const JobRunning> runner, std::shared_ptr<TimerQueue> timers,
                     Clock clock);

private:
    struct RunTask {
        std::stop_source stop;
    };

    void followStores();
    std::vector<Job> plannable(std::vector<Job> jobs) const;
    void scheduleNextWake();
    void tick();
    void recordSkip(const Job& job, Instant slot, const std::string& reason);
    // Starts a task for (job, scheduledFor); `folder` is the busy key of a scheduled run.
    std::future<RunRecord> launch(const Job& job, Instant scheduledFor, LineHandler onOutputLine,
                                  std::optional<std::string> folder, std::stop_token cancel = {});
    RunRecord execute(const Job& job, Instant scheduledFor, const LineHandler& onOutputLine,
                      std::stop_token stopToken);
    void finish(const Job& job, const std::shared_ptr<RunTask>& task,
                const std::optional<std::string>& folder);

    const std::shared_ptr<JobStore> store_;
    const std::shared_ptr<RunHistory> history_;
    const std::shared_ptr<EndpointStore> endpoints_;
    const std::shared_ptr<SettingsStore> settings_;
    const std::shared_ptr<const JobRunning> runner_;
    const std::shared_ptr<TimerQueue> timers_;
    const Clock clock_;

    mutable std::mutex mutex_;
    mutable std::condition_variable idle_;
    std::shared_ptr<OneShotTimer> timer_;
    std::optional<Instant> nextWake_; // when `timer_` fires
    bool running_ = false;
    std::uint64_t plansBegun_ = 0; // numbers the calls of scheduleNextWake
    std::uint64_t planArmed_ = 0;  // the number of the plan that set `timer_`
    std::unordered_set<std::string> busyDirectories_;
    // A job may have a scheduled and a manual run at once; each is tracked.
    std::unordered_map<Uuid, std::vector<std::shared_ptr<RunTask>>> inFlight_;
    int tasks_ = 0; // run tasks not yet cleaned up
    std::function<void()> onChange_;
    std::function<void(const Job&)> onRunStarted_;
    std::function<void(const Job&, const RunRecord&)> onRunFinished_;
    std::shared_ptr<RunJournal> journal_;

    // Declared last: destroyed first, joining the task threads that have ended.
    TaskGroup threads_;
    // Declared after the threads: ended first, so no store calls into a service being
    // destroyed.
    std::vector<Subscription> subscriptions_;
};

} // namespace marrowbell
