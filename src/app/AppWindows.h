#pragma once

#include "job/Job.h"

#include <optional>

namespace marrowbell::app {

class AppModel;

// The job editor ("Scheduled Job") and settings windows, opened on request from the
// panel and the status icon's menu, then brought to the front.
class AppWindows {
public:
    explicit AppWindows(AppModel& model);
    ~AppWindows();
    AppWindows(const AppWindows&) = delete;
    AppWindows& operator=(const AppWindows&) = delete;

    // For a new job (none) or an existing one.
    void showEditor(const std::optional<Job>& job);
    void showSettings();

private:
    AppModel& model_;
};

} // namespace marrowbell::app
