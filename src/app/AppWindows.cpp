#include "AppWindows.h"

#include "model/AppModel.h"
#include "panel/WindowLifter.h"

namespace marrowbell::app {

AppWindows::AppWindows(AppModel& model)
    : model_(model) {}

AppWindows::~AppWindows() = default;

void AppWindows::showEditor(const std::optional<Job>& job) {
    model_.setEditingJob(job);
    // The editor window ("job-editor") is shown here once it exists.
    WindowLifter::bringForward(&WindowLifter::isJobEditor);
}

void AppWindows::showSettings() {
    // The settings window is shown here once it exists.
    WindowLifter::bringForward(&WindowLifter::isSettings);
}

} // namespace marrowbell::app
