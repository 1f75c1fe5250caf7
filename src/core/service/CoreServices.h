#pragma once

#include "base/FileWatcher.h"
#include "harness/HarnessRegistry.h"
#include "job/JobStore.h"
#include "run/JobRunner.h"
#include "run/LiveRuns.h"
#include "run/RunHistory.h"
#include "scheduler/SchedulerLock.h"
#include "scheduler/SchedulerService.h"
#include "settings/EndpointStore.h"
#include "settings/SettingsStore.h"

#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace marrowbell {

// The services of one process that works with the user's jobs, assembled in one place
// for every front end (the daemon, `marrowbellctl run`, the desktop app): the bundled
// harness manifest, the job, endpoint and settings stores and the run history of the
// support folder, and — for the holder of the user's scheduler lock — the job runner
// and the scheduler (not started). The login shell's PATH is looked up in the
// background from the start. The job, endpoint and settings stores follow their files
// (and a process without the lock follows the history too), so what other processes
// change reaches this one as it runs; where inotify's per-user limits are reached they
// keep what they read at the start.
//
// Only one process of a user runs jobs and writes the history, so the lock is taken
// before anything else. With `LockPolicy::required` a lock held elsewhere is an error;
// with `ifFree` the services come up without runner and scheduler (a desktop app
// beside a running daemon still shows and edits the jobs).
//
// Shutting down, by `shutDown` or the destructor: the timer stops, runs in flight are
// cancelled (and recorded as such), they are waited for, and the history is written
// out; the lock goes last.
class CoreServices {
public:
    enum class LockPolicy { required, ifFree };

    // Throws on the first failure, nothing running then: SchedulerLockError (another
    // scheduler, with `required`), HarnessError (no manifest), a store's filesystem
    // error (no support folder). `onShellPathKnown` is called, on a thread of its own,
    // once the login shell's PATH has been asked for (harnesses found only there are
    // installed from then on).
    explicit CoreServices(LockPolicy policy = LockPolicy::required,
                          std::function<void()> onShellPathKnown = {});
    ~CoreServices();
    CoreServices(const CoreServices&) = delete;
    CoreServices& operator=(const CoreServices&) = delete;

    const HarnessRegistry& registry() const { return registry_; }
    const std::shared_ptr<JobStore>& jobs() const { return jobs_; }
    const std::shared_ptr<RunHistory>& history() const { return history_; }
    const std::shared_ptr<EndpointStore>& endpoints() const { return endpoints_; }
    const std::shared_ptr<SettingsStore>& settings() const { return settings_; }

    // Whether this process holds the scheduler lock; runner and scheduler exist then
    // only.
    bool holdsSchedulerLock() const { return lock_.has_value(); }
    const std::shared_ptr<JobRunner>& runner() const { return runner_; }
    // The runs in flight and their transcripts ("Runs" in the support folder).
    const std::shared_ptr<LiveRuns>& live() const { return live_; }
    const std::shared_ptr<SchedulerService>& scheduler() const { return scheduler_; }

    // Stops the scheduler, cancels and awaits its runs and flushes the history. Once
    // is enough; later calls do nothing.
    void shutDown();

private:
    // Declared first: released after everything else is shut down.
    std::optional<SchedulerLock> lock_;
    std::optional<FileWatcher> watcher_; // ended after the stores that follow through it
    HarnessRegistry registry_;
    std::shared_ptr<JobStore> jobs_;
    std::shared_ptr<RunHistory> history_;
    std::shared_ptr<EndpointStore> endpoints_;
    std::shared_ptr<SettingsStore> settings_;
    std::shared_ptr<LiveRuns> live_;
    std::shared_ptr<JobRunner> runner_;
    std::shared_ptr<SchedulerService> scheduler_;
    bool shutDown_ = false;
    std::jthread shellLookup_;
};

} // namespace marrowbell
