#pragma once

#include "control/ControlServer.h"
#include "job/JobStore.h"
#include "job/SchedulerLock.h"
#include "job/SchedulerService.h"
#include "run/JobRunner.h"
#include "run/LiveRuns.h"
#include "run/RunHistory.h"
#include "settings/EndpointStore.h"
#include "settings/SettingsStore.h"

#include <memory>
#include <thread>

namespace marrowbell::ctl {

// What a process that runs jobs holds, built as the application builds it: the bundled
// harness manifest, the stores and history of the support folder, the runner and the
// scheduler (not started). The login shell's PATH is looked up in the background.
// It first takes the user's scheduler lock, since the history file has one writer at a
// time. Throws on the first failure (another scheduler running, the manifest); nothing
// runs then.
struct SchedulerSetup {
    SchedulerSetup();
    // Cancels what still runs, waits for it, and writes the history out.
    ~SchedulerSetup();
    SchedulerSetup(const SchedulerSetup&) = delete;
    SchedulerSetup& operator=(const SchedulerSetup&) = delete;

    SchedulerLock lock;
    std::shared_ptr<JobStore> store;
    std::shared_ptr<RunHistory> history;
    std::shared_ptr<EndpointStore> endpoints;
    std::shared_ptr<SettingsStore> settings;
    std::shared_ptr<LiveRuns> live; // runs in flight and their transcripts
    std::shared_ptr<JobRunner> runner;
    std::shared_ptr<SchedulerService> service;

    // Serves the control channel as `kind` ("daemon", "run"), telling its subscribers
    // of every finished run and change. When it cannot, says why on standard error and
    // goes on without one: the jobs still run.
    std::shared_ptr<ControlServer>
    serveControl(const char* kind,
                 std::function<void(const Job&, const RunRecord&)> onRunFinished = {});

private:
    std::jthread shellLookup_;
};

} // namespace marrowbell::ctl
