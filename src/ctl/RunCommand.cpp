#include "Command.h"
#include "JobArgument.h"
#include "StopSignals.h"
#include "TerminalText.h"

#include "service/CoreServices.h"

#include <chrono>
#include <iostream>
#include <mutex>

namespace marrowbell::ctl {

namespace {

int runJob(Job job) {
    StopSignals signals; // before any thread exists

    CoreServices core;

    auto output = std::make_shared<std::mutex>();
    std::future<RunRecord> future = core.scheduler()->runNow(job, [output](std::string_view line) {
        std::lock_guard lock(*output);
        std::cout << printable(line) << std::endl;
    });
    bool cancelled = false;
    while (future.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        if (signals.wait(std::chrono::milliseconds(100)) && !cancelled) {
            cancelled = true;
            core.scheduler()->cancel(job.id);
        }
    }
    RunRecord record = future.get();
    core.history()->flush();
    std::cerr << printable(job.name) << ": " << record.outcomeSummary() << " — "
              << printable(record.summary()) << "\n";
    return record.succeeded() ? success : failure;
}

const Command command{"run", "run JOB",
                      [](Arguments a) { return withJobArgument(a, "run", &runJob); }};

} // namespace

} // namespace marrowbell::ctl
