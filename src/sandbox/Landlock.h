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
// afterwards. Entries that do not exist are skipped, except that a missing folder
// whose parent exists is created first, as the tool itself would be allowed to.
// Throws LaunchError when a rule or the restriction cannot be installed.
void restrictWrites(int abi, const std::vector<std::string>& writableFolders,
                    const std::vector<std::string>& writableFiles);

// When the process is root: takes from it, for good, the capabilities that would let
// it read past covered folders or change the confinement (mounts, file handles,
// device nodes, kernel modules, raw I/O, tracing, BPF). Throws LaunchError.
void dropConfinementCapabilities();

} // namespace marrowbell::sandbox
