#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <system_error>

namespace marrowbell::files {

// Replaces `path` whole: writes a temporary file in the same folder with `mode`,
// syncs it and renames it over the target, so the file is at every instant either
// the old or the new complete content. Throws std::system_error; on failure the
// target is untouched and no temporary file is left behind.
void writeAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode = 0644);

// Creates `folder` and its missing parents, each readable by the user alone (0700):
// the stores' folders hold prompts, output and keys. Folders that exist keep their
// mode. Throws std::filesystem::filesystem_error.
void createPrivateFolders(const std::filesystem::path& folder);

// What reading a file found.
struct Content {
    enum class State { read, missing, notRegular, tooLarge, failed };
    State state = State::missing;
    std::string bytes;     // when read
    std::error_code error; // when failed
};

// Reads a regular file of at most `maxBytes` (a symbolic link is followed to what it
// names). It is opened without blocking, so a FIFO or a device is answered at once as
// `notRegular` and never read; a file that grows past the cap while read is `tooLarge`.
Content readBounded(const std::filesystem::path& path, std::size_t maxBytes);

// The whole content of a regular file of at most 64 MiB; none otherwise.
std::optional<std::string> read(const std::filesystem::path& path);

// The folder holding the running executable (resolved through /proc/self/exe).
const std::filesystem::path& executableDirectory();

// A resource shipped with the binaries: <bin>/../share/marrowbell/<name>, the same
// relative place in the build tree and in an installed tree.
std::filesystem::path resource(std::string_view name);

} // namespace marrowbell::files
