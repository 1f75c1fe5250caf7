#include "SchedulerSetup.h"

#include "harness/HarnessRegistry.h"
#include "harness/ShellPath.h"

namespace marrowbell::ctl {

SchedulerSetup::SchedulerSetup()
    : lock(SchedulerLock::acquire(SchedulerLock::defaultPath())) {
    HarnessRegistry registry = HarnessRegistry::bundled();
    store = std::make_shared<JobStore>(JobStore::defaultDirectory());
    history = std::make_shared<RunHistory>(RunHistory::defaultFileURL());
    endpoints = std::make_shared<EndpointStore>(EndpointStore::defaultFileURL());
    settings = std::make_shared<SettingsStore>(SettingsStore::defaultFileURL());
    runner = std::make_shared<JobRunner>(registry, history, EndpointProbe(5), RunExecutor(),
                                         CommandBuilder{}, SecretStore::shared());
    service = SchedulerService::create(store, history, endpoints, settings, runner);
    // What a scheduler that died left running is ended and recorded before anything runs.
    service->adoptJournal(std::make_shared<RunJournal>(RunJournal::defaultFileURL()));
    shellLookup_ = std::jthread([environment = registry.environment()] {
        // The harnesses a user installed through a version manager or a shell profile
        // are found only on the login shell's PATH.
        environment->prime(5);
    });
}

SchedulerSetup::~SchedulerSetup() {
    service->stop();
    service->cancelAll();
    service->waitUntilIdle();
    history->flush();
}

} // namespace marrowbell::ctl
