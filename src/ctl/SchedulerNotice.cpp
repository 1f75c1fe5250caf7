#include "SchedulerNotice.h"

#include "scheduler/SchedulerLock.h"

#include <string>

namespace marrowbell::ctl {

void printSchedulerNotice(std::ostream& out) {
    const auto holder = SchedulerLock::holder(SchedulerLock::defaultPath());
    if (!holder)
        return;
    out << "A Marrowbell scheduler is running"
        << (*holder > 0 ? " (process " + std::to_string(*holder) + ")" : std::string())
        << ": the change takes effect when that scheduler restarts.\n";
}

} // namespace marrowbell::ctl
