#include "Command.h"
#include "JobArgument.h"
#include "SchedulerSetup.h"
#include "StopSignals.h"
#include "TerminalText.h"

#include "job/SchedulerLock.h"

#include <chrono>
#include <iostream>
#include <mutex>

namespace marrowbell::ctl {

namespace {

int run(Arguments arguments) {
    if (arguments.size() != 1)
        return usage("run takes one JOB (its name or identifier)");
    StopSignals signals; // before any thread exists
    std::optional<Job> found;
    try {
        found = resolveJob(storedJobs(), arguments[0]);
    } catch (const JobArgumentError& error) {
        return usage(error.what());
    }
    const Job& job = *found;

    // The history file has one writer at a time: while a scheduler runs, it records.
    std::optional<SchedulerLock> lock;
    try {
        lock.emplace(SchedulerLock::acquire(SchedulerLock::defaultPath()));
    } catch (const SchedulerLockError& error) {
        std::cerr << "marrowbellctl: " << error.what() << "\n";
        return failure;
    }

    SchedulerSetup setup;

    auto output = std::make_shared<std::mutex>();
    std::future<RunRecord> future = setup.service->runNow(job, [output](std::string_view line) {
        std::lock_guard lock(*output);
        std::cout << printable(line) << std::endl;
    });
    bool cancelled = false;
    while (future.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        if (signals.wait(std::chrono::milliseconds(100)) && !cancelled) {
            cancelled = true;
            setup.service->cancel(job.id);
        }
    }
    RunRecord record = future.get();
    setup.history->flush();
    std::cerr << printable(job.name) << ": " << record.outcomeSummary() << " — "
              << printable(record.summary()) << "\n";
    return record.succeeded() ? success : failure;
}

const Command command{"run", "run JOB", &run};

} // namespace

} // namespace marrowbell::ctl
