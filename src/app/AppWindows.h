#pragma once

#include "job/Job.h"

#include <memory>
#include <optional>

namespace marrowbell::app {

class AppModel;

// The job editor ("Scheduled Job") and settings windows, opened on request from the
// panel and the status icon's menu, then brought to the front. One editor per job and
// one for a new job: asking again raises the open one, so unsaved edits are never
// replaced by another job's.
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
    struct Open;

    AppModel& model_;
    std::unique_ptr<Open> open_;
};

} // namespace marrowbell::app
