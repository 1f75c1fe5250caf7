#include "AppWindows.h"

#include "editor/JobEditorWindow.h"
#include "model/AppModel.h"
#include "panel/NotificationSettings.h"
#include "settings/SettingsWindow.h"

#include <QProcess>

namespace marrowbell::app {
namespace {

void bringForward(QWidget& window) {
    window.show();
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.raise();
    window.activateWindow();
}

} // namespace

AppWindows::AppWindows(AppModel& model)
    : model_(model) {}

AppWindows::~AppWindows() {
    for (auto& [job, editor] : editors_)
        delete editor.data();
    delete settings_.data();
}

void AppWindows::showEditor(const std::optional<Job>& job) {
    std::optional<Uuid> key;
    if (job)
        key = job->id;
    QPointer<JobEditorWindow>& editor = editors_[key];
    if (!editor) {
        // The editor reads the job being edited when it opens.
        model_.setEditingJob(job);
        editor = new JobEditorWindow(model_);
    }
    std::erase_if(editors_, [](const auto& entry) { return entry.second.isNull(); });
    bringForward(*editors_[key]);
}

void AppWindows::showSettings() {
    if (!settings_) {
        settings_ = new SettingsWindow(model_);
        if (auto command = notificationSettingsCommand())
            settings_->setNotificationSettingsOpener(
                [command = *command] { QProcess::startDetached(command.first(), command.mid(1)); });
    }
    bringForward(*settings_);
}

} // namespace marrowbell::app
