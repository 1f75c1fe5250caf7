// The tray app with 1,000 jobs and 2,000 run records: start to status icon, panel open
// to first paint, resident memory at rest, and wake-ups while the panel is hidden.
#include "ctl/SchedulerCommandSupport.h"
#include "model/AppModel.h"
#include "panel/JobListView.h"
#include "panel/PanelView.h"
#include "panel/StatusIcons.h"
#include "panel/StatusItem.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

using namespace marrowbell;
using namespace marrowbell::app;

namespace {

// 1,000 jobs that all fire between 3:00 and 3:59, so no slot falls within a measurement,
// and two records each.
struct Home {
    test::ProcessHome home;

    Home() {
        home.harness("exit 0\n");
        RunHistory history(home.support() / "runs.json");
        for (int i = 0; i < 1000; ++i) {
            Job job = home.job("Job " + std::to_string(i), Instant::now() - 86400 + i,
                               std::to_string(i % 60) + " 3 * * *");
            job.isPaused = i % 10 == 0;
            home.save(job);
            for (int run = 0; run < 2; ++run) {
                RunRecord record;
                record.jobID = job.id;
                record.startedAt = Instant::now() - 86400 * (run + 1);
                record.exitCode = (i + run) % 7 == 0 ? 1 : 0;
                history.record(record);
            }
        }
        history.flush();
    }
};

Home& home() {
    static Home shared;
    return shared;
}

// Runs events until `done`, without sleeping past it.
void runUntil(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// The app as `marrowbell` builds it, from nothing to the status icon (or, with no tray,
// the window) shown.
void BM_StartToStatusIcon(benchmark::State& state) {
    home();
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        AppModel model;
        PanelView panel(model);
        StatusItem item(panel);
        item.setIcon(StatusIcons::status(QStringLiteral("idle"), panel.palette()),
                     QStringLiteral("Marrowbell"));
        item.start();
        runUntil([&] { return item.hasTray() ? item.tray()->isVisible() : panel.isVisible(); });
        QCoreApplication::processEvents();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
    }
}
BENCHMARK(BM_StartToStatusIcon)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// Counts the list's paints.
class PaintWatch : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Opening the panel after the jobs changed behind it: read, laid out and painted.
void BM_PanelOpenToFirstPaint(benchmark::State& state) {
    home();
    AppModel model;
    PanelView panel(model);
    JobListView* list = panel.findChild<JobListView*>();
    PaintWatch watch;
    list->viewport()->installEventFilter(&watch);
    for (auto _ : state) {
        panel.hide();
        QCoreApplication::processEvents();
        emit model.jobsChanged(); // as when a store changes while hidden
        watch.paints = 0;
        QElapsedTimer clock;
        clock.start();
        panel.show();
        runUntil([&] { return watch.paints > 0; });
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
    }
}
BENCHMARK(BM_PanelOpenToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond);

long statusField(const std::filesystem::path& file, const std::string& field) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    return 0;
}

// Context switches of every thread of this process: each wake-up of a sleeping thread
// is one.
long contextSwitches() {
    long total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        total += statusField(task.path() / "status", "voluntary_ctxt_switches");
    return total;
}

// Those of the main thread alone, where the windows live.
long mainThreadSwitches() {
    return statusField("/proc/self/task/" + std::to_string(::getpid()) + "/status",
                       "voluntary_ctxt_switches");
}

// At rest with the panel hidden: resident memory, and wake-ups per minute measured over
// ten seconds of an idle event loop.
void BM_IdleWithPanelHidden(benchmark::State& state) {
    home();
    AppModel model;
    PanelView panel(model);
    panel.show();
    QCoreApplication::processEvents();
    panel.hide();
    for (auto _ : state) {
        QEventLoop loop;
        QTimer::singleShot(2000, &loop, &QEventLoop::quit); // let start-up work settle
        loop.exec();
        long before = contextSwitches();
        long mainBefore = mainThreadSwitches();
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        // Less the timer that ends the wait.
        state.counters["wakeUpsPerMinute"] = double(contextSwitches() - before - 1) * 6;
        state.counters["mainThreadWakeUpsPerMinute"] =
            double(mainThreadSwitches() - mainBefore - 1) * 6;
        state.counters["residentMB"] = double(statusField("/proc/self/status", "VmRSS")) / 1024;
    }
}
BENCHMARK(BM_IdleWithPanelHidden)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
