#pragma once

#include "base/Instant.h"
#include "harness/HarnessManifest.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace marrowbell {

// Looks past version-manager shims (mise, asdf, volta…) to the real binary, so a job
// keeps working after the tool is upgraded. Every failure falls back to the file found.
struct ShimResolver {
    // A resolver that never answers must not hold up a run.
    static constexpr Seconds resolverTimeout = 12;

    static std::filesystem::path resolve(const std::filesystem::path& candidate,
                                         const std::string& toolName,
                                         const std::vector<std::string>& searchPaths,
                                         const std::vector<ShimManager>& managers);
    // The first folder holding an executable file called `name`.
    static std::optional<std::filesystem::path> locate(const std::string& name,
                                                       const std::vector<std::string>& folders);
    // Runs the resolver; its trimmed standard output when it exits 0 with some text.
    static std::optional<std::filesystem::path> ask(const std::filesystem::path& resolver,
                                                    const std::vector<std::string>& arguments,
                                                    Seconds timeout = resolverTimeout);
};

} // namespace marrowbell
