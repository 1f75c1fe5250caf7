#include "Command.h"
#include "LoadProblems.h"
#include "SchedulerChannel.h"
#include "StopSignals.h"
#include "TerminalText.h"

#include "service/CoreServices.h"

#include <chrono>
#include <ctime>
#include <iostream>
#include <mutex>

namespace marrowbell::ctl {

namespace {

// Runs report from their own threads; one line at a time, flushed, so a log collector
// reading a pipe sees each as it happens.
class LinePrinter {
public:
    void print(const std::string& line) {
        std::lock_guard lock(mutex_);
        std::cout << timestamp() << "  " << line << std::endl;
    }

private:
    static std::string timestamp() {
        // The precise clock: time() may lag a few milliseconds, printing a run started on
        // the minute as the second before it.
        std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        std::tm fields{};
        char text[32] = "";
        if (::localtime_r(&now, &fields))
            std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields);
        return text;
    }

    std::mutex mutex_;
};

int daemon(Arguments arguments) {
    if (!arguments.empty() && arguments[0].starts_with("-"))
        return unknownOption(arguments[0]);
    if (!arguments.empty())
        return usage("daemon takes no arguments");
    StopSignals signals; // before any thread exists

    CoreServices core;
    warnAbout(core);
    SchedulerService& scheduler = *core.scheduler();
    auto printer = std::make_shared<LinePrinter>();
    scheduler.setOnRunStarted(
        [printer](const Job& job) { printer->print("started  " + printable(job.name)); });
    auto control = serveControl(core, "daemon", [printer](const Job& job, const RunRecord& record) {
        printer->print("finished " + printable(job.name) + ": " + record.outcomeSummary() + " — " +
                       printable(record.summary()));
    });
    // The records stay in memory and go with the next write.
    core.history()->setOnWriteFailure([printer](const StoreError& error) {
        printer->print(std::string(error.what()) + "; kept to retry with the next run.");
    });
    scheduler.start();
    std::cerr << "marrowbellctl: scheduler running for " << core.jobs()->jobs().size()
              << " job(s); stop it with Ctrl-C or SIGTERM.\n";

    signals.wait();
    core.shutDown();
    if (control)
        control->stop();
    if (auto problem = core.history()->writeFailure()) {
        std::cerr << "marrowbellctl: " << *problem << "\n";
        return failure;
    }
    std::cerr << "marrowbellctl: scheduler stopped.\n";
    return success;
}

const Command command{
    "daemon",
    Help{Group::running, "run the scheduler in the foreground until stopped", "daemon",
         "Stops on SIGINT, SIGTERM or SIGHUP, cancelling the runs in flight. Only one\n"
         "scheduler per user runs.",
         "marrowbellctl daemon"},
    &daemon};

} // namespace

} // namespace marrowbell::ctl
