#include "SchedulerSetup.h"

#include "LoadProblems.h"

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
    for (const auto& problems : {store->loadProblems(), history->loadProblems(),
                                 endpoints->loadProblems(), settings->loadProblems()})
        warnAbout(problems);
    runner = std::make_shared<JobRunner>(registry, history, EndpointProbe(5), RunExecutor(),
                                         CommandBuilder{}, SecretStore::shared());
    service = SchedulerService::create(store, history, endpoints, settings, runner);
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
