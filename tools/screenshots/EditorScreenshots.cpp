// Renders the job editor in fixed states to PNGs in the folder given as the argument:
// a new job, an existing job with Advanced open, and an invalid schedule.
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QFont>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QSettings>
#include <QThread>
#include <QToolButton>

#include "editor/EditorFixture.h"
#include "editor/JobEditorWindow.h"
#include "model/AppModel.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

using namespace marrowbell;
using namespace marrowbell::app;

namespace {

// Monday 7 December 2026, 10:00 in London.
const Instant now = Instant::fromUnix(1796637600);

// Runs the event loop until `done` or `milliseconds` passed.
template <class Done> void waitUntil(Done done, int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

bool settled(const JobEditorWindow& window) {
    const auto* command = window.findChild<QPlainTextEdit*>("resolvedCommand");
    const auto* models = window.findChild<QWidget*>("modelsBusy");
    return command->toPlainText() != "resolving\u2026" && !models->isVisibleTo(&window);
}

bool shoot(JobEditorWindow& window, const std::filesystem::path& file, bool wholePage) {
    window.show();
    waitUntil([&] { return settled(window); }, 15000);
    waitUntil([] { return false; }, 50);
    if (wholePage) {
        // Tall enough to show everything at once, as if scrolled through.
        const auto* scroll = window.findChild<QScrollArea*>();
        const int extra = scroll->widget()->sizeHint().height() - scroll->viewport()->height();
        if (extra > 0)
            window.resize(window.width(), window.height() + extra);
        waitUntil([] { return false; }, 50);
    }
    const bool saved = window.grab().save(QString::fromStdString(file.string()));
    if (!saved)
        std::fprintf(stderr, "could not write %s\n", file.c_str());
    window.close();
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    setenv("TZ", "Europe/London", 1);
    setenv("LC_ALL", "en_US.UTF-8", 1);
    tzset();
    QApplication application(argc, argv);
    QLocale::setDefault(QLocale("en_US"));
    application.setFont(QFont("DejaVu Sans", 10));
    const std::filesystem::path folder = argv[1];

    test::EditorHome home;
    home.claude();
    home.tool("opencode", "anthropic/claude-sonnet-4\nopenai/gpt-5");
    home.add(test::makeEndpoint("Team proxy", EndpointKind::anthropicCompatible));
    home.add(test::makeEndpoint("LM Studio", EndpointKind::lmStudio));
    Job nightly{
        .id = Uuid::random(),
        .name = "Nightly review",
        .prompt = "Review yesterday's commits on main. List every change without a test, with "
                  "the file and line. Done when each change is either listed or checked.",
        .workingDirectory = FileUrl::fromPath(home.root / "project", true),
        .harnessID = "claude",
        .endpointID = std::nullopt,
        .model = "sonnet",
        .skills = {},
        .permission = PermissionLevel::scopedWrite,
        .schedule = CronExpression("30 2 * * *"),
        .timeZoneIdentifier = "Europe/London",
        .isPaused = false,
        .limitOverrides = {},
        .offlinePolicy = OfflinePolicy::skipAndNotify,
        .createdAt = now - 86400 * 30,
        .resumedAt = std::nullopt,
    };
    home.add(nightly);

    AppModel model;
    auto clock = [] { return now; };
    bool ok = true;

    auto* fresh = new JobEditorWindow(model, nullptr, clock);
    ok = shoot(*fresh, folder / "editor-new-job.png", false) && ok;

    QSettings("Marrowbell", "Marrowbell").setValue("jobEditor.showAdvanced", true);
    model.setEditingJob(model.jobs().empty() ? std::optional<Job>(nightly) : model.jobs().front());
    auto* existing = new JobEditorWindow(model, nullptr, clock);
    ok = shoot(*existing, folder / "editor-existing-job-advanced.png", true) && ok;

    QSettings("Marrowbell", "Marrowbell").setValue("jobEditor.showAdvanced", false);
    model.setEditingJob(std::nullopt);
    auto* invalid = new JobEditorWindow(model, nullptr, clock);
    invalid->findChild<QLineEdit*>("name")->setText("Weekly digest");
    emit invalid->findChild<QLineEdit*>("name")->textEdited("Weekly digest");
    QComboBox* repeat = invalid->findChild<QComboBox*>("repeat");
    repeat->setCurrentIndex(repeat->findText("Custom cron"));
    QLineEdit* cron = invalid->findChild<QLineEdit*>("cron");
    cron->setText("0 9 * * mon-fri");
    emit cron->textEdited(cron->text());
    ok = shoot(*invalid, folder / "editor-invalid-schedule.png", false) && ok;
    return ok ? 0 : 1;
}
