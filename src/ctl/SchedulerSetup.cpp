#include "SchedulerSetup.h"

#include "harness/HarnessRegistry.h"
#include "harness/ShellPath.h"

#include <iostream>
#include <system_error>

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
    try {
        watcher.emplace();
        store->follow(*watcher);
        endpoints->follow(*watcher);
        settings->follow(*watcher);
    } catch (const std::system_error& error) {
        std::cerr << "marrowbellctl: note: changes to the jobs, endpoints and settings take "
                     "effect at the scheduler's next start ("
                  << error.what() << ").\n";
    }
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
