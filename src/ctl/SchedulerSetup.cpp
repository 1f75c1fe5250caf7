#include "SchedulerSetup.h"

#include "control/ControlProtocol.h"
#include "harness/HarnessRegistry.h"
#include "harness/ShellPath.h"

#include <iostream>

namespace marrowbell::ctl {

SchedulerSetup::SchedulerSetup()
    : lock(SchedulerLock::acquire(SchedulerLock::defaultPath())) {
    HarnessRegistry registry = HarnessRegistry::bundled();
    store = std::make_shared<JobStore>(JobStore::defaultDirectory());
    history = std::make_shared<RunHistory>(RunHistory::defaultFileURL());
    endpoints = std::make_shared<EndpointStore>(EndpointStore::defaultFileURL());
    settings = std::make_shared<SettingsStore>(SettingsStore::defaultFileURL());
    live = std::make_shared<LiveRuns>(
        TranscriptFolder(TranscriptFolder::defaultFolder()),
        [settings = settings] { return settings->settings().transcriptLimitBytes; });
    runner = std::make_shared<JobRunner>(registry, history, EndpointProbe(5), RunExecutor(),
                                         CommandBuilder{}, SecretStore::shared(), live);
    service = SchedulerService::create(store, history, endpoints, settings, runner);
    shellLookup_ = std::jthread([environment = registry.environment()] {
        // The harnesses a user installed through a version manager or a shell profile
        // are found only on the login shell's PATH.
        environment->prime(5);
    });
}

std::shared_ptr<ControlServer>
SchedulerSetup::serveControl(const char* kind,
                             std::function<void(const Job&, const RunRecord&)> onRunFinished) {
    std::shared_ptr<ControlServer> server;
    try {
        server = ControlServer::start({service, store, live, kind}, ControlProtocol::socketPath());
    } catch (const std::exception& error) {
        std::cerr << "marrowbellctl: no control channel (" << error.what()
                  << "); marrowbellctl status, stop and follow cannot reach this scheduler.\n";
    }
    std::weak_ptr<ControlServer> weak = server;
    service->setOnRunFinished([weak, onRunFinished](const Job& job, const RunRecord& record) {
        if (onRunFinished)
            onRunFinished(job, record);
        if (auto server = weak.lock())
            server->runFinished(job, record);
    });
    // Anything of the jobs may have changed after a tick or a run.
    service->setOnChange([weak] {
        if (auto server = weak.lock())
            server->changed("jobs");
    });
    return server;
}

SchedulerSetup::~SchedulerSetup() {
    service->stop();
    service->cancelAll();
    service->waitUntilIdle();
    history->flush();
}

} // namespace marrowbell::ctl
