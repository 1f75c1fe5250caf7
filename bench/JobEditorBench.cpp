// The job editor with 1,000 jobs and 20 endpoints: opening it up to its first paint,
// and one keystroke in the Cron field (validation, the next three times, the footer).
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include "editor/EditorFixture.h"
#include "editor/JobEditorWindow.h"
#include "job/JobTestSupport.h"
#include "model/AppModel.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

using namespace marrowbell;
using namespace marrowbell::app;

namespace {

struct Setting {
    Setting() {
        home.claude();
        for (int i = 0; i < 1000; ++i) {
            Job job = test::makeJob("Job " + std::to_string(i), "0 9 * * 1-5");
            job.workingDirectory = FileUrl::fromPath(home.root / "plain", true);
            home.add(job);
        }
        for (int i = 0; i < 20; ++i)
            home.add(test::makeEndpoint("Endpoint " + std::to_string(i),
                                        i % 2 ? EndpointKind::lmStudio
                                              : EndpointKind::anthropicCompatible));
        model = std::make_unique<AppModel>();
    }
    test::EditorHome home;
    std::unique_ptr<AppModel> model;
};

Setting& setting() {
    static Setting shared;
    return shared;
}

void EditorOpenToFirstPaint(benchmark::State& state) {
    AppModel& model = *setting().model;
    for (auto _ : state) {
        auto* window = new JobEditorWindow(model);
        window->show();
        benchmark::DoNotOptimize(window->grab());
        state.PauseTiming();
        delete window;
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(EditorOpenToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(40);

void CronKeystroke(benchmark::State& state) {
    AppModel& model = *setting().model;
    JobEditorWindow window(model);
    window.show();
    QComboBox* repeat = window.findChild<QComboBox*>("repeat");
    repeat->setCurrentIndex(repeat->findText("Custom cron"));
    QLineEdit* cron = window.findChild<QLineEdit*>("cron");
    bool grow = true;
    for (auto _ : state) {
        // "0 9 * * 1-5" and "0 9 * * 1-" in turn: valid, then not.
        QTest::keyClick(cron, grow ? Qt::Key_Backspace : Qt::Key_5);
        grow = !grow;
    }
}
BENCHMARK(CronKeystroke)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
