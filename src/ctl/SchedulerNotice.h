#pragma once

#include <ostream>

namespace marrowbell::ctl {

// After a command changed the job files: when a scheduler is running, says that it
// works from the jobs it read at its start until it restarts. Prints nothing
// otherwise.
void printSchedulerNotice(std::ostream& out);

} // namespace marrowbell::ctl
