#pragma once

#include <string>
#include <vector>

namespace marrowbell::sandbox {

// Moves the process into a mount namespace of its own (through a user namespace when
// it is not privileged) and reshapes what it sees there:
// - each existing path of `unreadable` is covered, a folder by an empty read-only
//   tmpfs, a file by an empty read-only file, so its content cannot be read while its
//   ancestors stay listable;
// - each of `temporaryFolders` becomes a fresh, empty tmpfs that vanishes with the
//   namespace; the working folder and the `writable` folders that lay inside one are
//   brought back into it, read-only unless they lie inside a `writable` folder other
//   than a temporary one, so a job's folder keeps the access its level gives it;
// - every socket under /run is covered by an empty read-only file, so the services
//   and other sessions listening there cannot be reached.
// Throws LaunchError.
void confineMounts(const std::vector<std::string>& unreadable,
                   const std::vector<std::string>& writable,
                   const std::vector<std::string>& temporaryFolders);

} // namespace marrowbell::sandbox
