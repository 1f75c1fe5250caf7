#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace marrowbell {

// The confinement of one read-only or scoped-write run: writes only into the
// workspace (when writable), the run's private temporary folders and the harness's
// own state folders; no reads from the user's private folders, keys and other tools'
// credentials unless the job's folders lie inside or around them. `text` is the
// profile handed to `executable()` as `-p PROFILE`. The lists depend on HOME,
// XDG_DATA_HOME, XDG_RUNTIME_DIR and the user id at the time they are asked for.
struct SandboxProfile {
    // The run's working folder.
    std::filesystem::path workspace;
    // The harness's state folders; may start with "~" and may hold "{uid}".
    std::vector<std::string> harnessPaths;
    // True for scoped-write runs, false for read-only runs.
    bool workspaceWritable = false;

    // The profile, one rule per line, no final line feed.
    std::string text() const;
    // Canonical folders that may be written, without duplicates, sorted.
    std::vector<std::string> writableSubpaths() const;
    // Canonical private folders that may not be read, sorted.
    std::vector<std::string> unreadableSubpaths() const;

    // The launcher `marrowbell-sandbox`, beside the running binaries.
    static std::filesystem::path executable();

    // The canonical path: symbolic links resolved through the nearest existing
    // ancestor, the missing components appended; the path as given when nothing
    // along it exists.
    static std::string resolved(const std::filesystem::path& path);

    friend bool operator==(const SandboxProfile&, const SandboxProfile&) = default;
};

} // namespace marrowbell
