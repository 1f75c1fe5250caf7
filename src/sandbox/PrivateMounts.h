#pragma once

#include <string>
#include <vector>

namespace marrowbell::sandbox {

// Moves the process into a mount namespace of its own (through a user namespace
// when it is not privileged) and covers each existing folder of `unreadable` with an
// empty read-only tmpfs, so its content cannot be read while its ancestors stay
// listable. Nothing happens when none of the folders exists. Throws LaunchError.
void coverUnreadable(const std::vector<std::string>& unreadable);

} // namespace marrowbell::sandbox
