#include "harness/HarnessRegistry.h"

#include "base/Files.h"
#include "base/HomeFolder.h"
#include "harness/ShimResolver.h"

#include <cerrno>
#include <mutex>
#include <system_error>
#include <unordered_set>

namespace marrowbell {

// The search list, computed once per shell-discovery generation.
class SearchPathCache {
public:
    std::vector<std::string> paths(const std::vector<std::string>& manifest,
                                   const ShellPath& environment) {
        int generation = environment.generation();
        std::lock_guard guard(lock_);
        if (builtFor_ == generation)
            return cached_;
        std::vector<std::string> all;
        for (const std::string& folder : manifest)
            all.push_back(expandingTilde(folder));
        // The one nested lock order: the shell path's lock inside this one.
        for (std::string& folder : environment.paths())
            all.push_back(std::move(folder));
        std::vector<std::string> unique;
        std::unordered_set<std::string> seen;
        for (std::string& folder : all)
            if (seen.insert(folder).second)
                unique.push_back(std::move(folder));
        cached_ = std::move(unique);
        builtFor_ = generation;
        return cached_;
    }

private:
    std::mutex lock_;
    std::vector<std::string> cached_;
    std::optional<int> builtFor_;
};

HarnessRegistry::HarnessRegistry(std::vector<HarnessSpec> specs,
                                 std::vector<std::string> searchPaths,
                                 std::vector<ShimManager> shimManagers,
                                 std::vector<SuggestedEndpoint> suggestedEndpoints,
                                 ManifestDefaults defaults, std::shared_ptr<ShellPath> environment)
    : specs_(std::move(specs))
    , searchPaths_(std::move(searchPaths))
    , shimManagers_(std::move(shimManagers))
    , suggestedEndpoints_(std::move(suggestedEndpoints))
    , defaults_(std::move(defaults))
    , environment_(environment ? std::move(environment) : std::make_shared<ShellPath>())
    , cache_(std::make_shared<SearchPathCache>()) {}

HarnessRegistry HarnessRegistry::bundled() {
    std::filesystem::path file = files::resource("harnesses.json");
    std::error_code error;
    if (!std::filesystem::exists(file, error))
        throw HarnessError::manifestMissing();
    return load(file);
}

HarnessRegistry HarnessRegistry::load(const std::filesystem::path& file) {
    auto bytes = files::read(file);
    if (!bytes)
        throw std::system_error(errno ? errno : EIO, std::generic_category(),
                                "Could not read " + file.string());
    auto document = json::parse(*bytes);
    if (!document)
        throw DecodeError("The harness manifest is not valid JSON");
    HarnessManifest manifest = HarnessManifest::decode(*document);
    return HarnessRegistry(std::move(manifest.harnesses), std::move(manifest.searchPaths),
                           std::move(manifest.shimManagers), std::move(manifest.suggestedEndpoints),
                           std::move(manifest.defaults), ShellPath::shared());
}

std::string HarnessRegistry::identifierList() const {
    std::string list;
    for (const HarnessSpec& spec : specs_)
        list += (list.empty() ? "" : ", ") + spec.id;
    return list;
}

const HarnessSpec& HarnessRegistry::spec(const std::string& id) const {
    for (const HarnessSpec& spec : specs_)
        if (spec.id == id)
            return spec;
    throw HarnessError::unknownHarness(id);
}

std::vector<std::string> HarnessRegistry::expandedSearchPaths() const {
    return cache_->paths(searchPaths_, *environment_);
}

bool HarnessRegistry::isInstalled(
    const HarnessSpec& spec, const std::optional<std::vector<std::string>>& searchPaths) const {
    std::vector<std::string> folders = searchPaths ? *searchPaths : expandedSearchPaths();
    for (const std::string& name : spec.executableNames)
        for (const std::string& folder : folders)
            if (isExecutableFile(std::filesystem::path(folder) / name))
                return true;
    return false;
}

std::vector<HarnessSpec>
HarnessRegistry::installedSpecs(const std::optional<std::vector<std::string>>& searchPaths) const {
    std::vector<std::string> folders = searchPaths ? *searchPaths : expandedSearchPaths();
    std::vector<HarnessSpec> installed;
    for (const HarnessSpec& spec : specs_)
        if (isInstalled(spec, folders))
            installed.push_back(spec);
    return installed;
}

std::optional<std::string> HarnessRegistry::preferredHarnessID() const {
    std::vector<HarnessSpec> installed = installedSpecs();
    if (!installed.empty())
        return installed.front().id;
    if (!specs_.empty())
        return specs_.front().id;
    return std::nullopt;
}

std::optional<CronExpression> HarnessRegistry::defaultSchedule() const {
    try {
        return CronExpression::parse(defaults_.schedule);
    } catch (const CronError&) {
        return std::nullopt;
    }
}

std::filesystem::path HarnessRegistry::resolveExecutable(
    const HarnessSpec& spec, const std::optional<std::vector<std::string>>& searchPaths) const {
    std::vector<std::string> folders = searchPaths ? *searchPaths : expandedSearchPaths();
    std::vector<std::string> tried;
    for (const std::string& name : spec.executableNames)
        for (const std::string& folder : folders) {
            std::filesystem::path candidate = std::filesystem::path(folder) / name;
            tried.push_back(candidate.string());
            if (isExecutableFile(candidate))
                return ShimResolver::resolve(candidate, name, folders, shimManagers_);
        }
    throw HarnessError::executableNotFound(spec.displayName, tried);
}

} // namespace marrowbell
