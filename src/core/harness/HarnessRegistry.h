#pragma once

#include "cron/CronExpression.h"
#include "harness/HarnessError.h"
#include "harness/HarnessManifest.h"
#include "harness/ShellPath.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace marrowbell {

class SearchPathCache;

// The loaded manifest plus executable discovery: the folders to search (manifest
// folders first, then the login shell's PATH), which harnesses are installed, and the
// real executable of each past version-manager shims. A value; copies share the
// ShellPath and the search-list cache. Safe to use from any thread; resolution runs
// child processes and blocks, so keep it off the main thread.
class HarnessRegistry {
public:
    HarnessRegistry(std::vector<HarnessSpec> specs, std::vector<std::string> searchPaths,
                    std::vector<ShimManager> shimManagers,
                    std::vector<SuggestedEndpoint> suggestedEndpoints, ManifestDefaults defaults,
                    std::shared_ptr<ShellPath> environment);

    // The manifest shipped beside the binaries; HarnessError::manifestMissing when
    // there is none. A read or decoding error is thrown unchanged.
    static HarnessRegistry bundled();
    // Throws std::system_error when the file cannot be read, DecodeError when it is
    // not a valid manifest.
    static HarnessRegistry load(const std::filesystem::path& file);

    const std::vector<HarnessSpec>& specs() const { return specs_; }
    const std::vector<std::string>& searchPaths() const { return searchPaths_; }
    const std::vector<ShimManager>& shimManagers() const { return shimManagers_; }
    const std::vector<SuggestedEndpoint>& suggestedEndpoints() const { return suggestedEndpoints_; }
    const ManifestDefaults& defaults() const { return defaults_; }
    const std::shared_ptr<ShellPath>& environment() const { return environment_; }

    // The manifest's harness identifiers joined by ", ", for messages.
    std::string identifierList() const;
    // The first spec with this id; HarnessError::unknownHarness otherwise.
    const HarnessSpec& spec(const std::string& id) const;

    // Manifest folders ("~" expanded) then the shell's, first occurrence kept;
    // recomputed only after a newer shell discovery.
    std::vector<std::string> expandedSearchPaths() const;

    // Specs with an executable file under one of their names in one of the folders
    // (`searchPaths`, else the expanded list). Shims are not followed for this.
    std::vector<HarnessSpec>
    installedSpecs(const std::optional<std::vector<std::string>>& searchPaths = std::nullopt) const;
    bool
    isInstalled(const HarnessSpec& spec,
                const std::optional<std::vector<std::string>>& searchPaths = std::nullopt) const;
    // The manifest's default schedule for new jobs; none when it does not parse.
    std::optional<CronExpression> defaultSchedule() const;
    // The first installed harness, else the manifest's first; none for an empty one.
    std::optional<std::string> preferredHarnessID() const;

    // The executable to run: names in order, each through every folder in order, then
    // past shims. HarnessError::executableNotFound lists every path tried.
    std::filesystem::path resolveExecutable(
        const HarnessSpec& spec,
        const std::optional<std::vector<std::string>>& searchPaths = std::nullopt) const;

private:
    std::vector<HarnessSpec> specs_;
    std::vector<std::string> searchPaths_;
    std::vector<ShimManager> shimManagers_;
    std::vector<SuggestedEndpoint> suggestedEndpoints_;
    ManifestDefaults defaults_;
    std::shared_ptr<ShellPath> environment_;
    std::shared_ptr<SearchPathCache> cache_;
};

} // namespace marrowbell
