#include "job/BulkPause.h"

#include <algorithm>

namespace marrowbell {

BulkPause bulkPauseAction(const std::vector<Job>& jobs) {
    if (jobs.empty())
        return BulkPause::nothingToDo;
    bool allPaused = std::all_of(jobs.begin(), jobs.end(), [](const Job& j) { return j.isPaused; });
    return allPaused ? BulkPause::resumeAll : BulkPause::pauseAll;
}

std::string_view title(BulkPause action) {
    return action == BulkPause::resumeAll ? "Resume all" : "Pause all";
}

bool isAvailable(BulkPause action) {
    return action != BulkPause::nothingToDo;
}

std::vector<Job> changes(BulkPause action, const std::vector<Job>& jobs, Instant now) {
    std::vector<Job> changed;
    if (action == BulkPause::nothingToDo)
        return changed;
    const bool pause = action == BulkPause::pauseAll;
    for (const Job& job : jobs) {
        if (job.isPaused == pause)
            continue;
        changed.push_back(job);
        changed.back().setPaused(pause, now);
    }
    return changed;
}

} // namespace marrowbell
