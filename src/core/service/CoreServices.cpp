#include "service/CoreServices.h"

#include "endpoint/EndpointProbe.h"
#include "endpoint/SecretStore.h"
#include "harness/CommandBuilder.h"
#include "run/RunExecutor.h"

#include <system_error>

namespace marrowbell {

namespace {

std::optional<SchedulerLock> takeLock(CoreServices::LockPolicy policy) {
    try {
        return SchedulerLock::acquire(SchedulerLock::defaultPath());
    } catch (const SchedulerLockError&) {
        if (policy == CoreServices::LockPolicy::required)
            throw;
        return std::nullopt;
    }
}

} // namespace

CoreServices::CoreServices(LockPolicy policy, std::function<void()> onShellPathKnown)
    : lock_(takeLock(policy))
    , registry_(HarnessRegistry::bundled())
    , jobs_(std::make_shared<JobStore>(JobStore::defaultDirectory()))
    , history_(std::make_shared<RunHistory>(RunHistory::defaultFileURL()))
    , endpoints_(std::make_shared<EndpointStore>(EndpointStore::defaultFileURL()))
    , settings_(std::make_shared<SettingsStore>(SettingsStore::defaultFileURL())) {
    if (lock_) {
        live_ = std::make_shared<LiveRuns>(
            TranscriptFolder(TranscriptFolder::defaultFolder()),
            [settings = settings_] { return settings->settings().transcriptLimitBytes; });
        runner_ = std::make_shared<JobRunner>(registry_, history_, EndpointProbe(5), RunExecutor(),
                                              CommandBuilder{}, SecretStore::shared(), live_);
        scheduler_ = SchedulerService::create(jobs_, history_, endpoints_, settings_, runner_);
        // What a scheduler that died left running is ended and recorded before anything
        // runs.
        scheduler_->adoptJournal(std::make_shared<RunJournal>(RunJournal::defaultFileURL()));
    }
    try {
        watcher_.emplace();
        jobs_->follow(*watcher_);
        endpoints_->follow(*watcher_);
        settings_->follow(*watcher_);
        if (!lock_)
            history_->follow(*watcher_); // the lock holder is the history's one writer
    } catch (const std::system_error&) {
        // No inotify to spare: the stores keep what they read at the start.
    }
    shellLookup_ =
        std::jthread([environment = registry_.environment(), known = std::move(onShellPathKnown)] {
            // The harnesses a user installed through a version manager or a shell profile
            // are found only on the login shell's PATH.
            environment->prime(5);
            if (known)
                known();
        });
}

CoreServices::~CoreServices() {
    shutDown();
}

void CoreServices::shutDown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    if (scheduler_) {
        scheduler_->stop();
        scheduler_->cancelAll();
        scheduler_->waitUntilIdle();
    }
    // Only the lock holder writes the history.
    if (lock_)
        history_->flush();
}

} // namespace marrowbell
