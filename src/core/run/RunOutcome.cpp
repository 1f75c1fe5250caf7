#include "run/RunOutcome.h"

#include "run/DurationText.h"

namespace marrowbell {

std::string RunOutcome::terminationSummary() const {
    if (cancelled)
        return "Cancelled after " + readable(duration);
    if (timedOut)
        return "Stopped at its time limit after " + readable(duration);
    if (exitCode != 0)
        return "Exit " + std::to_string(exitCode) + " after " + readable(duration);
    return "Finished in " + readable(duration);
}

} // namespace marrowbell
