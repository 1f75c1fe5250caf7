#pragma once

#include "job/JobStore.h"
#include "run/JobRunning.h"
#include "run/RunHistory.h"
#include "scheduler/SchedulerService.h"
#include "scheduler/TimerQueue.h"
#include "settings/EndpointStore.h"
#include "settings/SettingsStore.h"
#include "support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace marrowbell::test {

// A clock the test sets; readable from any thread.
class ManualClock {
public:
    explicit ManualClock(Instant start)
        : seconds_(start.sinceReference) {}
    Instant now() const { return {seconds_.load()}; }
    void set(Instant instant) { seconds_.store(instant.sinceReference); }
    void advance(Seconds seconds) { set(now() + seconds); }
    SchedulerService::Clock function() {
        return [this] { return now(); };
    }

private:
    std::atomic<double> seconds_;
};

// Timers that fire only when the test says so, on the test's thread: the test is the
// serial queue.
class ManualTimerQueue : public TimerQueue {
public:
    std::unique_ptr<OneShotTimer> makeTimer(Seconds delay, std::function<void()> handler) override {
        made_.fetch_add(1);
        auto state = std::make_shared<State>();
        state->delay = delay;
        state->handler = std::move(handler);
        return std::make_unique<Timer>(this, state);
    }

    // The delay of the timer that is started and neither cancelled nor fired, if any.
    std::optional<Seconds> armed() const {
        std::lock_guard lock(mutex_);
        std::optional<Seconds> result;
        for (const auto& state : live_)
            result = state->delay;
        return result;
    }
    // Timers made so far: one per re-plan that armed one.
    int made() const { return made_.load(); }
    int liveCount() const {
        std::lock_guard lock(mutex_);
        return static_cast<int>(live_.size());
    }
    // Fires the live timer (as its deadline passing would); false when there is none.
    bool fire() {
        std::shared_ptr<State> state;
        {
            std::lock_guard lock(mutex_);
            if (live_.empty())
                return false;
            state = live_.back();
            live_.clear();
        }
        state->handler();
        return true;
    }

private:
    struct State {
        Seconds delay = 0;
        std::function<void()> handler;
        bool cancelled = false;
    };
    class Timer : public OneShotTimer {
    public:
        Timer(ManualTimerQueue* queue, std::shared_ptr<State> state)
            : queue_(queue)
            , state_(std::move(state)) {}
        void start() override {
            std::lock_guard lock(queue_->mutex_);
            if (!state_->cancelled)
                queue_->live_.push_back(state_);
        }
        void cancel() override {
            std::lock_guard lock(queue_->mutex_);
            state_->cancelled = true;
            std::erase(queue_->live_, state_);
        }

    private:
        ManualTimerQueue* queue_;
        std::shared_ptr<State> state_;
    };

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<State>> live_;
    std::atomic<int> made_{0};
};

// Stands in for the job runner: records like it, and holds each run until the test
// releases it (or its run is cancelled). Also notes how many runs share a folder at once.
class FakeRunner : public JobRunning {
public:
    explicit FakeRunner(std::shared_ptr<RunHistory> history, bool holdRuns = false)
        : history_(std::move(history))
        , hold_(holdRuns) {}

    // Each run lasts this long unless cancelled (when runs are not held).
    void setPause(std::chrono::milliseconds pause) { pause_ = pause; }

    RunRecord run(const Job& job, const std::optional<Endpoint>& endpoint,
                  const RunLimits& defaults, Instant now, LineHandler onOutputLine,
                  std::stop_token stopToken, ProcessHandler = {}) const override {
        std::string folder = SchedulerService::folderKey(job);
        {
            std::unique_lock lock(mutex_);
            calls_.push_back({job.id, now, endpoint, defaults});
            int& count = perFolder_[folder];
            ++count;
            maxPerFolder_ = std::max(maxPerFolder_, count);
            changed_.notify_all();
            if (hold_)
                changed_.wait(lock, stopToken, [&] { return released_ > 0; });
            else if (pause_.count() > 0)
                changed_.wait_for(lock, stopToken, pause_, [] { return false; });
            if (hold_ && released_ > 0 && !stopToken.stop_requested())
                --released_;
            --perFolder_[folder];
        }
        if (onOutputLine)
            onOutputLine("hello from " + job.name);
        RunRecord record;
        record.jobID = job.id;
        record.startedAt = now;
        record.duration = 0.1;
        record.wasCancelled = stopToken.stop_requested();
        record.exitCode = record.wasCancelled ? -1 : 0;
        history_->record(record);
        return record;
    }

    struct Call {
        Uuid jobID;
        Instant now;
        std::optional<Endpoint> endpoint;
        RunLimits defaults;
    };

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
    std::chrono::milliseconds pause_{0};
    mutable std::mutex mutex_;
    mutable std::condition_variable_any changed_;
    mutable std::vector<Call> calls_;
    mutable std::map<std::string, int> perFolder_;
    mutable int maxPerFolder_ = 0;
    mutable int released_ = 0;
};

// The stores of one support folder in a temporary directory, and a scheduler on them.
struct SchedulerFixture {
    explicit SchedulerFixture(Instant start, bool holdRuns = false, Seconds grace = 900)
        : clock(start) {
        store = std::make_shared<JobStore>(folder / "Jobs");
        history = std::make_shared<RunHistory>(folder / "runs.json");
        endpoints = std::make_shared<EndpointStore>(folder / "endpoints.json");
        settings = std::make_shared<SettingsStore>(folder / "settings.json");
        settings->update([&](AppSettings& s) { s.catchUpGraceSeconds = grace; });
        runner = std::make_shared<FakeRunner>(history, holdRuns);
        timers = std::make_shared<ManualTimerQueue>();
        service = SchedulerService::create(store, history, endpoints, settings, runner, timers,
                                           clock.function());
    }

    TempDir folder;
    ManualClock clock;
    std::shared_ptr<JobStore> store;
    std::shared_ptr<RunHistory> history;
    std::shared_ptr<EndpointStore> endpoints;
    std::shared_ptr<SettingsStore> settings;
    std::shared_ptr<FakeRunner> runner;
    std::shared_ptr<ManualTimerQueue> timers;
    std::shared_ptr<SchedulerService> service;
};

} // namespace marrowbell::test
