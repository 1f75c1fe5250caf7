#pragma once

#include "base/Instant.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowbell {

// The PATH the user's login shell would have, asked for once in the background,
// because a scheduled run starts with no shell and no profile loaded. Thread-safe.
class ShellPath {
public:
    explicit ShellPath(std::vector<std::string> paths = {});

    // The process-wide instance, empty until primed.
    static std::shared_ptr<ShellPath> shared();

    // Number of successful discoveries so far; only grows.
    int generation() const;
    std::vector<std::string> paths() const;

    // Runs one discovery and publishes a non-empty result; an empty one changes
    // nothing, so an earlier good answer survives a failed later one.
    void prime(Seconds timeout);

    // $SHELL if it names an executable file, else the user database's login shell if
    // executable, else none.
    static std::optional<std::filesystem::path> loginShell();
    // Runs `shell -l -i -c /usr/bin/env` and reads its PATH; empty on any failure or
    // when the shell has not finished within `timeout` (it is then terminated).
    static std::vector<std::string> discover(const std::optional<std::filesystem::path>& shell,
                                             Seconds timeout);
    // The folders of the last line beginning "PATH=", without empty pieces.
    static std::vector<std::string> extract(std::string_view output);
    // Absolute, first occurrence only, existing folders; order kept.
    static std::vector<std::string> usable(const std::vector<std::string>& paths);

    void publish(std::vector<std::string> paths);

private:
    mutable std::mutex lock_;
    std::vector<std::string> discovered_;
    int answers_ = 0;
};

} // namespace marrowbell
