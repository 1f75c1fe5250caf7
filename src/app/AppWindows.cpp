#include "AppWindows.h"

#include "editor/JobEditorWindow.h"
#include "model/AppModel.h"
#include "panel/NotificationSettings.h"
#include "settings/SettingsWindow.h"

#include <QPointer>
#include <QProcess>

#include <map>

namespace marrowbell::app {
namespace {

void bringForward(QWidget& window) {
    window.show();
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.raise();
    window.activateWindow();
}

} // namespace

struct AppWindows::Open {
    // Keyed by the job's id, none for a new job. Editors delete themselves on close.
    std::map<std::optional<Uuid>, QPointer<JobEditorWindow>> editors;
    QPointer<SettingsWindow> settings;
};

AppWindows::AppWindows(AppModel& model)
    : model_(model)
    , open_(std::make_unique<Open>()) {}

AppWindows::~AppWindows() {
    for (auto& [job, editor] : open_->editors)
        delete editor.data();
    delete open_->settings.data();
}

void AppWindows::showEditor(const std::optional<Job>& job) {
    std::optional<Uuid> key;
    if (job)
        key = job->id;
    auto& editors = open_->editors;
    QPointer<JobEditorWindow>& editor = editors[key];
    if (!editor) {
        // The editor reads the job being edited when it opens.
        model_.setEditingJob(job);
        editor = new JobEditorWindow(model_);
    }
    std::erase_if(editors, [](const auto& entry) { return entry.second.isNull(); });
    bringForward(*editors[key]);
}

void AppWindows::showSettings() {
    QPointer<SettingsWindow>& settings = open_->settings;
    if (!settings) {
        settings = new SettingsWindow(model_);
        if (auto command = notificationSettingsCommand())
            settings->setNotificationSettingsOpener(
                [command = *command] { QProcess::startDetached(command.first(), command.mid(1)); });
    }
    bringForward(*settings);
}

} // namespace marrowbell::app
