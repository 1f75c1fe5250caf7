// Renders the panel in fixed states to PNGs in the folder given as the argument:
// a fixed clock, locale, zone and font, on real models over prepared support folders.
#include "ctl/SchedulerCommandSupport.h"
#include "model/AppModel.h"
#include "panel/PanelView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFont>
#include <QLocale>
#include <QPalette>
#include <QPixmap>
#include <QStyle>
#include <QStyleFactory>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace marrowbell;
using namespace marrowbell::app;

namespace {

const Instant monday = Instant::fromUnix(1796644800); // Mon 7 Dec 2026 12:00 UTC

class FixedNotifications : public NotificationCenter {
public:
    explicit FixedNotifications(Authorization answer)
        : answer_(answer) {}
    Authorization authorization() const override { return answer_; }
    void requestAuthorization(std::function<void(bool)> done) override {
        done(answer_ == Authorization::authorized);
    }
    void post(const QString&, const Content&) override {}

private:
    Authorization answer_;
};

// One support folder of its own, made the process's while it lives.
struct Scene {
    test::ProcessHome home;
    int made = 0;

    Job job(const std::string& name, const std::string& cron, PermissionLevel permission,
            bool paused = false) {
        Job job = home.job(name, monday - 86400 + made++, cron);
        job.permission = permission;
        job.isPaused = paused;
        home.save(job);
        return job;
    }
};

RunRecord run(const Job& job, std::int32_t exitCode, std::optional<std::string> failure = {},
              bool cancelled = false) {
    RunRecord record;
    record.jobID = job.id;
    record.startedAt = monday - 3600;
    record.duration = 42;
    record.exitCode = exitCode;
    record.failureMessage = std::move(failure);
    record.wasCancelled = cancelled;
    return record;
}

void waitFor(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 15000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

void settle() {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(38, 38, 40));
    palette.setColor(QPalette::WindowText, QColor(235, 235, 240));
    palette.setColor(QPalette::Base, QColor(30, 30, 32));
    palette.setColor(QPalette::AlternateBase, QColor(44, 44, 46));
    palette.setColor(QPalette::Text, QColor(235, 235, 240));
    palette.setColor(QPalette::Button, QColor(58, 58, 60));
    palette.setColor(QPalette::ButtonText, QColor(235, 235, 240));
    palette.setColor(QPalette::Highlight, QColor(246, 199, 115));
    palette.setColor(QPalette::HighlightedText, QColor(30, 30, 32));
    palette.setColor(QPalette::ToolTipBase, QColor(58, 58, 60));
    palette.setColor(QPalette::ToolTipText, QColor(235, 235, 240));
    return palette;
}

// Fills the scene with jobs in every state of the dot, a paused section among them.
void everyState(Scene& scene) {
    scene.home.harness("exit 0\n");
    Job review = scene.job("Nightly review", "30 12 * * *", PermissionLevel::readOnly);
    Job tests = scene.job("Run the test suite", "0 */2 * * *", PermissionLevel::scopedWrite);
    Job deps = scene.job("Update dependencies", "0 18 * * 1-5", PermissionLevel::fullAccess);
    Job docs = scene.job("Refresh the docs", "15 9 * * *", PermissionLevel::readOnly);
    Job triage = scene.job("Triage new issues", "45 13 * * *", PermissionLevel::readOnly);
    scene.job("Weekly report", "0 9 * * 1", PermissionLevel::readOnly, true);
    scene.job("Archive old branches", "0 3 1 * *", PermissionLevel::scopedWrite, true);
    RunHistory history(scene.home.support() / "runs.json");
    history.record(run(review, 0));
    history.record(run(tests, 1, "Tests failed: 3 of 212."));
    history.record(run(deps, 143, "Cancelled.", true));
    history.record(run(docs, 0, "Skipped: the computer was asleep at 9:15 AM."));
    (void)triage; // never run
    history.flush();
}

class Shooter {
public:
    explicit Shooter(QString folder)
        : folder_(std::move(folder)) {}

    // Builds a model and panel on the scene, lets `prepare` act on them, and saves the panel.
    void shoot(const char* name, Scene& scene, const std::function<void(AppModel&)>& prepare = {},
               NotificationCenter::Authorization notifications =
                   NotificationCenter::Authorization::authorized,
               bool dark = false) {
        FixedNotifications center(notifications);
        AppModel model(AppPlatform{&center, nullptr, nullptr, [] { return monday; }});
        QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
        PanelView panel(model, [] { return monday; });
        if (prepare)
            prepare(model);
        panel.show();
        settle();
        panel.reload();
        settle();
        QString file = QDir(folder_).filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
        if (!panel.grab().save(file))
            std::fprintf(stderr, "could not write %s\n", qPrintable(file));
        panel.hide();
    }

private:
    QString folder_;
};

} // namespace

int main(int argc, char** argv) {
    setenv("TZ", "Europe/London", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: screenshots_panel FOLDER\n", stderr);
        return 2;
    }
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    QApplication::setFont(font);
    Shooter shooter(QString::fromLocal8Bit(argv[1]));

    {
        Scene scene;
        scene.home.harness("exit 0\n");
        shooter.shoot("panel-no-jobs", scene);
    }
    {
        Scene scene; // no harness installed either
        shooter.shoot("panel-no-harness", scene);
    }
    {
        Scene scene;
        everyState(scene);
        shooter.shoot("panel-jobs-light", scene);
    }
    {
        Scene scene;
        everyState(scene);
        shooter.shoot("panel-jobs-dark", scene, {}, NotificationCenter::Authorization::authorized,
                      true);
    }
    {
        Scene scene;
        everyState(scene);
        scene.home.harness("sleep 60\n");
        Job running = scene.job("Long refactor", "0 4 * * *", PermissionLevel::scopedWrite);
        shooter.shoot("panel-running", scene, [&](AppModel& model) {
            model.runNow(running);
            waitFor([&] { return model.runningJobIDs().contains(running.id); });
        });
    }
    {
        Scene scene;
        std::filesystem::remove_all(scene.home.root / "data");
        test::writeFile(scene.home.root / "data", "not a folder");
        shooter.shoot("panel-startup-error", scene);
    }
    {
        Scene scene;
        everyState(scene);
        shooter.shoot("panel-notifications-off", scene, {},
                      NotificationCenter::Authorization::denied);
    }
    return 0;
}
