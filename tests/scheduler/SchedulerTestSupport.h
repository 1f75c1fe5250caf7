#pragma once

#include "job/JobStore.h"
#include "run/JobRunning.h"
#include "run/RunHistory.h"
#include "scheduler/SchedulerService.h"
#include "scheduler/TimerQueue.h"
#include "settings/EndpointStore.h"
#include "settings/SettingsStore.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <map>
#include <mutex>

namespace marrowbell::test {

// 2026-03-{day} {hour}:{minute}:{second} UTC.
inline Instant at(int day, int hour, int minute, double second = 0) {
    return *TimeZone::utc().instant(LocalDateTime{2026, 3, day, hour, minute, second});
}

// A job created at midnight on the 5th, working in `folder`.
inline Job job(const std::string& name, const std::string& cron,
               const std::string& folder = "/srv/a") {
    Job j = makeJob(name, cron, at(5, 0, 0));
    j.workingDirectory = FileUrl::fromPath(folder, true);
    return j;
}

// Timers that fire only when the test says so, on the test's thread: the test is the
// serial queue. A timer's handler is shared with its handle, so firing survives the handle.
class ManualTimerQueue : public TimerQueue {
    struct State {
        Seconds delay;
        std::function<void()> handler;
        bool cancelled = false;
    };
    struct Timer : OneShotTimer {
        ManualTimerQueue* queue;
        std::shared_ptr<State> state;
        void start() override {
            std::lock_guard lock(queue->mutex_);
            if (!state->cancelled)
                queue->live_.push_back(state);
        }
        void cancel() override {
            std::lock_guard lock(queue->mutex_);
            state->cancelled = true;
            std::erase(queue->live_, state);
        }
    };

public:
    std::unique_ptr<OneShotTimer> makeTimer(Seconds delay, std::function<void()> handler) override {
        ++made;
        auto timer = std::make_unique<Timer>();
        timer->queue = this;
        timer->state = std::make_shared<State>(delay, std::move(handler));
        return timer;
    }
    // The delay of the timer started and neither cancelled nor fired; a re-arm must have
    // replaced the previous one.
    std::optional<Seconds> armed() const {
        std::lock_guard lock(mutex_);
        EXPECT_LE(live_.size(), 1u) << "a re-arm left the previous timer live";
        return live_.empty() ? std::nullopt : std::optional(live_.back()->delay);
    }
    // Fires the live timer, as its deadline passing would; false when there is none.
    bool fire() {
        std::unique_lock lock(mutex_);
        auto live = std::exchange(live_, {});
        lock.unlock();
        if (!live.empty())
            live.back()->handler();
        return !live.empty();
    }
    std::atomic<int> made = 0; // one per re-plan that armed a timer

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<State>> live_;
};

// Stands in for the job runner: records like it, and holds each run until the test
// releases it (or its run is cancelled). Also notes how many runs share a folder at once.
class FakeRunner : public JobRunning {
public:
    struct Call {
        Uuid jobID;
        Instant now;
        std::optional<Endpoint> endpoint;
        RunLimits defaults;
    };
    explicit FakeRunner(std::shared_ptr<RunHistory> history, bool holdRuns = false)
        : history_(std::move(history))
        , hold_(holdRuns) {}

    std::chrono::milliseconds pause{0}; // how long each run lasts when runs are not held

    RunRecord run(const Job& job, const std::optional<Endpoint>& endpoint,
                  const RunLimits& defaults, Instant now, LineHandler onOutputLine,
                  std::stop_token stop, ProcessHandler = {}) const override {
        std::string folder = SchedulerService::folderKey(job);
        {
            std::unique_lock lock(mutex_);
            calls_.push_back({job.id, now, endpoint, defaults});
            maxPerFolder_ = std::max(maxPerFolder_, ++perFolder_[folder]);
            changed_.notify_all();
            if (hold_ && changed_.wait(lock, stop, [&] { return released_ > 0; }) &&
                !stop.stop_requested())
                --released_;
            else if (!hold_ && pause.count() > 0)
                changed_.wait_for(lock, stop, pause, [] { return false; });
            --perFolder_[folder];
        }
        if (onOutputLine)
            onOutputLine("hello from " + job.name);
        RunRecord record;
        record.jobID = job.id;
        record.startedAt = now;
        record.duration = 0.1;
        record.wasCancelled = stop.stop_requested();
        record.exitCode = record.wasCancelled ? -1 : 0;
        history_->record(record);
        return record;
    }
    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    int maxPerFolder() const {
        std::lock_guard lock(mutex_);
        return maxPerFolder_;
    }
    // Lets `count` held runs finish.
    void release(int count = 1) {
        std::lock_guard lock(mutex_);
        released_ += count;
        changed_.notify_all();
    }
    // Waits until `count` runs have begun.
    bool waitForCalls(std::size_t count) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return calls_.size() >= count; });
    }

private:
    const std::shared_ptr<RunHistory> history_;
    const bool hold_;
    mutable std::mutex mutex_;
    mutable std::condition_variable_any changed_;
    mutable std::vector<Call> calls_;
    mutable std::map<std::string, int> perFolder_;
    mutable int maxPerFolder_ = 0, released_ = 0;
};

// The stores of one support folder in a temporary directory, and a scheduler on them.
struct SchedulerFixture {
    explicit SchedulerFixture(Instant start, bool holdRuns = false, Seconds grace = 900)
        : clock(start.sinceReference) {
        settings->update([&](AppSettings& s) { s.catchUpGraceSeconds = grace; });
        runner = std::make_shared<FakeRunner>(history, holdRuns);
        service = SchedulerService::create(store, history, endpoints, settings, runner, timers,
                                           [this] { return Instant{clock.load()}; });
    }
    void setClock(Instant instant) { clock = instant.sinceReference; }
    std::vector<RunRecord> runs(const Job& j) const { return history->runs(j.id); }

    TempDir folder;
    std::atomic<double> clock;
    std::shared_ptr<JobStore> store = std::make_shared<JobStore>(folder / "Jobs");
    std::shared_ptr<RunHistory> history = std::make_shared<RunHistory>(folder / "runs.json");
    std::shared_ptr<EndpointStore> endpoints =
        std::make_shared<EndpointStore>(folder / "endpoints.json");
    std::shared_ptr<SettingsStore> settings =
        std::make_shared<SettingsStore>(folder / "settings.json");
    std::shared_ptr<FakeRunner> runner;
    std::shared_ptr<ManualTimerQueue> timers = std::make_shared<ManualTimerQueue>();
    std::shared_ptr<SchedulerService> service;
};

} // namespace marrowbell::test
