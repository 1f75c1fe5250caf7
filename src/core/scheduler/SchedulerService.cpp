#include "scheduler/SchedulerService.h"

#include "base/Memory.h"
#include "job/SchedulePlanner.h"
#include "scheduler/SerialTimerQueue.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>

namespace marrowbell {

std::shared_ptr<SchedulerService> SchedulerService::create(
    std::shared_ptr<JobStore> store, std::shared_ptr<RunHistory> history,
    std::shared_ptr<EndpointStore> endpoints, std::shared_ptr<SettingsStore> settings,
    std::shared_ptr<const JobRunning> runner, std::shared_ptr<TimerQueue> timers, Clock clock) {
    if (!timers)
        timers = std::make_shared<SerialTimerQueue>(queueLabel);
    if (!clock)
        clock = Instant::now;
    auto service = std::make_shared<SchedulerService>(
        Passkey{}, std::move(store), std::move(history), std::move(endpoints), std::move(settings),
        std::move(runner), std::move(timers), std::move(clock));
    service->followStores();
    return service;
}

// Re-planning reads the stores afresh and, before `start` or after `stop`, arms
// nothing. It runs on the thread that made the change (the watcher's for another
// process's): arming a timer is quick and needs no queue hop.
void SchedulerService::followStores() {
    auto replan = [weak = weak_from_this()](const auto&) {
        if (auto self = weak.lock())
            self->scheduleNextWake();
    };
    subscriptions_.push_back(store_->subscribe(replan));
    subscriptions_.push_back(endpoints_->subscribe(replan));
    subscriptions_.push_back(settings_->subscribe(replan));
}

SchedulerService::SchedulerService(Passkey, std::shared_ptr<JobStore> store,
                                   std::shared_ptr<RunHistory> history,
                                   std::shared_ptr<EndpointStore> endpoints,
                                   std::shared_ptr<SettingsStore> settings,
                                   std::shared_ptr<const JobRunning> runner,
                                   std::shared_ptr<TimerQueue> timers, Clock clock)
    : store_(std::move(store))
    , history_(std::move(history))
    , endpoints_(std::move(endpoints))
    , settings_(std::move(settings))
    , runner_(std::move(runner))
    , timers_(std::move(timers))
    , clock_(std::move(clock)) {}

SchedulerService::~SchedulerService() {
    if (timer_)
        timer_->cancel();
}

// Callbacks belong to the application; one that throws must not take a run task or
// the scheduler queue down with it.
template <class Callback, class... Arguments>
static void notify(const Callback& callback, const Arguments&... arguments) {
    if (!callback)
        return;
    try {
        callback(arguments...);
    } catch (...) {
    }
}

void SchedulerService::setOnChange(std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    onChange_ = std::move(callback);
}

void SchedulerService::setOnRunStarted(std::function<void(const Job&)> callback) {
    std::lock_guard lock(mutex_);
    onRunStarted_ = std::move(callback);
}

void SchedulerService::setOnRunFinished(
    std::function<void(const Job&, const RunRecord&)> callback) {
    std::lock_guard lock(mutex_);
    onRunFinished_ = std::move(callback);
}

void SchedulerService::adoptJournal(std::shared_ptr<RunJournal> journal) {
    journal->recover(*history_);
    std::lock_guard lock(mutex_);
    journal_ = std::move(journal);
}

void SchedulerService::start() {
    {
        std::lock_guard lock(mutex_);
        if (running_)
            return;
        running_ = true;
    }
    scheduleNextWake();
}

void SchedulerService::stop() {
    std::shared_ptr<OneShotTimer> old;
    {
        std::lock_guard lock(mutex_);
        running_ = false;
        old = std::move(timer_);
        nextWake_.reset();
    }
    if (old)
        old->cancel();
}

void SchedulerService::reschedule() {
    scheduleNextWake();
}

std::string SchedulerService::folderKey(const Job& job) {
    std::string key = job.workingDirectory.fsPath().lexically_normal().string();
    while (key.size() > 1 && key.back() == '/')
        key.pop_back();
    return key;
}

Seconds SchedulerService::clampedDelay(Instant wakeUp, Instant now) {
    Seconds delay = wakeUp - now;
    if (std::isnan(delay))
        return minimumDelay;
    return std::clamp(delay, minimumDelay, maximumDelay);
}

std::vector<Job> SchedulerService::plannable(std::vector<Job> jobs) const {
    std::unordered_set<Uuid> inFlight;
    std::unordered_set<std::string> busy;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, tasks] : inFlight_)
            inFlight.insert(id);
        busy = busyDirectories_;
    }
    if (inFlight.empty() && busy.empty())
        return jobs;
    std::erase_if(jobs, [&](const Job& job) {
        return inFlight.contains(job.id) || busy.contains(folderKey(job));
    });
    return jobs;
}

void SchedulerService::scheduleNextWake() {
    // Plans are numbered before the stores are read: of two plans made at once (a run
    // ending while a store reports a change), the one that read later is kept.
    std::uint64_t plan;
    {
        std::lock_guard lock(mutex_);
        plan = ++plansBegun_;
    }
    // Everything the planner needs is copied under the stores' own locks first.
    Seconds grace = settings_->settings().catchUpGraceSeconds;
    std::vector<Job> jobs = plannable(store_->jobs());
    std::unordered_map<Uuid, Instant> dates = history_->lastStarts();
    Instant now = clock_();
    std::optional<Instant> wakeUp = SchedulePlanner{grace}.nextWakeUp(jobs, dates, now);

    std::shared_ptr<OneShotTimer> old;
    std::shared_ptr<OneShotTimer> fresh;
    {
        std::lock_guard lock(mutex_);
        if (plan < planArmed_)
            return; // a plan made from fresher copies is already in place
        planArmed_ = plan;
        old = std::move(timer_);
        nextWake_.reset();
        if (running_ && wakeUp) {
            fresh = timers_->makeTimer(clampedDelay(*wakeUp, now), [weak = weak_from_this()] {
                if (auto self = weak.lock())
                    self->tick();
            });
            timer_ = fresh;
            nextWake_ = now + clampedDelay(*wakeUp, now);
        }
    }
    // Outside the lock: a later call may already have replaced and cancelled `fresh`,
    // and a cancelled timer never fires, so the latest call wins.
    if (old)
        old->cancel();
    if (fresh)
        fresh->start();
    bool idle;
    {
        std::lock_guard lock(mutex_);
        idle = tasks_ == 0;
    }
    // Nothing runs until the timer fires: what loading and planning used is given back
    // rather than kept resident through the wait (a run would soon need it again).
    if (idle)
        memory::releaseFreed();
}

void SchedulerService::tick() {
    {
        std::lock_guard lock(mutex_);
        if (!running_)
            return; // stopped after this tick was already on its way
    }
    Seconds grace = settings_->settings().catchUpGraceSeconds;
    std::vector<Job> jobs = plannable(store_->jobs());
    std::unordered_map<Uuid, Instant> dates = history_->lastStarts();
    Instant now = clock_();
    SchedulePlanner planner{grace};

    for (const Job& job : jobs) {
        auto found = dates.find(job.id);
        std::optional<Instant> lastRun =
            found == dates.end() ? std::nullopt : std::optional<Instant>(found->second);
        ScheduleAction action = planner.decide(job, lastRun, now);
        if (const auto* run = action.as<ScheduleAction::Run>())
            launch(job, run->scheduledFor, {}, folderKey(job));
        else if (const auto* skip = action.as<ScheduleAction::SkipMissed>())
            recordSkip(job, skip->scheduledFor, skip->reason);
    }

    std::function<void()> onChange;
    {
        std::lock_guard lock(mutex_);
        onChange = onChange_;
    }
    notify(onChange);
    scheduleNextWake();
}

void SchedulerService::recordSkip(const Job& job, Instant slot, const std::string& reason) {
    RunRecord record;
    record.jobID = job.id;
    record.startedAt = slot;
    record.duration = 0;
    record.exitCode = 0;
    record.failureMessage = "Skipped — " + reason;
    history_->record(record);
    std::function<void(const Job&, const RunRecord&)> onRunFinished;
    {
        std::lock_guard lock(mutex_);
        onRunFinished = onRunFinished_;
    }
    notify(onRunFinished, job, record);
}

std::future<RunRecord> SchedulerService::runNow(const Job& job, LineHandler onOutputLine,
                                                std::stop_token cancel) {
    return launch(job, clock_(), std::move(onOutputLine), std::nullopt, std::move(cancel));
}

std::future<RunRecord> SchedulerService::launch(const Job& job, Instant scheduledFor,
                                                LineHandler onOutputLine,
                                                std::optional<std::string> folder,
                                                std::stop_token cancel) {
    auto task = std::make_shared<RunTask>();
    {
        // The folder test and mark, and the in-flight entry, in one hold: two due jobs
        // in one folder can never both start, and a stop followed by `cancelAll` misses
        // no run a tick was starting.
        std::lock_guard lock(mutex_);
        if (folder) {
            if (!running_ || busyDirectories_.contains(*folder))
                return {}; // left for a later tick
            busyDirectories_.insert(*folder);
        }
        inFlight_[job.id].push_back(task);
        ++tasks_;
    }
    auto promise = std::make_shared<std::promise<RunRecord>>();
    std::future<RunRecord> future = promise->get_future();
    threads_.spawn([weak = weak_from_this(), job, scheduledFor,
                    onOutputLine = std::move(onOutputLine), task, folder = std::move(folder),
                    promise, cancel = std::move(cancel)] {
        std::stop_callback forward(cancel, [task] { task->stop.request_stop(); });
        RunRecord record;
        if (auto self = weak.lock()) {
            record = self->execute(job, scheduledFor, onOutputLine, task->stop.get_token());
            self->finish(job, task, folder);
        } else {
            record.jobID = job.id;
            record.startedAt = scheduledFor;
            record.duration = 0;
            record.exitCode = 1;
            record.failureMessage = wentAwayMessage;
        }
        promise->set_value(std::move(record));
    });
    return future;
}

RunRecord SchedulerService::execute(const Job& job, Instant scheduledFor,
                                    const LineHandler& onOutputLine, std::stop_token stopToken) {
    std::function<void()> onChange;
    std::function<void(const Job&)> onRunStarted;
    std::function<void(const Job&, const RunRecord&)> onRunFinished;
    std::shared_ptr<RunJournal> journal;
    {
        std::lock_guard lock(mutex_);
        onChange = onChange_;
        onRunStarted = onRunStarted_;
        onRunFinished = onRunFinished_;
        journal = journal_;
    }
    notify(onRunStarted, job);
    const Uuid runID = Uuid::random();
    JobRunning::ProcessHandler onStarted;
    if (journal)
        onStarted = [&](const RunProcess& process) {
            try {
                journal->add({runID, job.id, scheduledFor, process});
            } catch (const std::exception&) {
                // Without the entry the run still runs; its guard still ends with this
                // process (parent-death signal), only a recovery would miss it.
            }
        };
    std::optional<Endpoint> endpoint = endpoints_->endpoint(job.endpointID);
    RunLimits defaults = settings_->settings().defaults;
    RunRecord record;
    try {
        record = runner_->run(job, endpoint, defaults, scheduledFor, onOutputLine,
                              std::move(stopToken), onStarted);
    } catch (const std::exception& error) {
        // The runner turns every failure into a record; should one escape all the same,
        // it is still recorded once, so the run is never lost.
        record.jobID = job.id;
        record.startedAt = scheduledFor;
        record.exitCode = 1;
        record.failureMessage = error.what();
        history_->record(record);
    }
    if (journal) {
        try {
            journal->remove(runID);
        } catch (const std::exception&) {
            // Left in the journal, the run is found recorded at the next recovery.
        }
    }
    notify(onRunFinished, job, record);
    notify(onChange);
    return record;
}

void SchedulerService::finish(const Job& job, const std::shared_ptr<RunTask>& task,
                              const std::optional<std::string>& folder) {
    {
        std::lock_guard lock(mutex_);
        auto entry = inFlight_.find(job.id);
        if (entry != inFlight_.end()) {
            std::erase(entry->second, task);
            if (entry->second.empty())
                inFlight_.erase(entry);
        }
        if (folder)
            busyDirectories_.erase(*folder);
    }
    scheduleNextWake();
    {
        std::lock_guard lock(mutex_);
        --tasks_;
    }
    idle_.notify_all();
}

void SchedulerService::cancel(const Uuid& jobID) {
    std::vector<std::shared_ptr<RunTask>> tasks;
    {
        std::lock_guard lock(mutex_);
        if (auto entry = inFlight_.find(jobID); entry != inFlight_.end())
            tasks = entry->second;
    }
    for (const auto& task : tasks)
        task->stop.request_stop();
}

void SchedulerService::cancelAll() {
    std::vector<std::shared_ptr<RunTask>> tasks;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, entries] : inFlight_)
            tasks.insert(tasks.end(), entries.begin(), entries.end());
    }
    for (const auto& task : tasks)
        task->stop.request_stop();
}

std::optional<Instant> SchedulerService::nextWakeUp() const {
    std::lock_guard lock(mutex_);
    return nextWake_;
}

bool SchedulerService::isRunning(const Uuid& jobID) const {
    std::lock_guard lock(mutex_);
    return inFlight_.contains(jobID);
}

void SchedulerService::waitUntilIdle() const {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return tasks_ == 0; });
}

bool SchedulerService::waitUntilIdle(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, timeout, [&] { return tasks_ == 0; });
}

} // namespace marrowbell
