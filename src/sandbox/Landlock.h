#pragma once

#include <string>
#include <vector>

namespace marrowbell::sandbox {

// The Landlock ABI version the running kernel offers. Throws LaunchError when the
// kernel has no Landlock or has it disabled.
int landlockAbi();

// Restricts the process and all its future descendants: files may be created,
// written, truncated, removed, renamed, linked and special files made only beneath
// `writableFolders`, and `writableFiles` may be written. Mounts cannot be changed
// afterwards. Where the ABI offers it, devices opened from then on take no ioctl
// (ABI 5), and abstract Unix sockets and signals cannot reach past the restricted
// processes (ABI 6). Sets no_new_privs. Entries that do not exist are skipped, except
// that a missing folder whose parent exists is created first, as the tool itself
// would be allowed to. Throws LaunchError when a rule or the restriction cannot be
// installed.
void restrictSelf(int abi, const std::vector<std::string>& writableFolders,
                  const std::vector<std::string>& writableFiles);

// Empties every capability set (effective, permitted, inheritable, ambient and the
// bounding set), so that even root keeps no privilege past exec. Throws LaunchError.
void dropAllCapabilities();

} // namespace marrowbell::sandbox
